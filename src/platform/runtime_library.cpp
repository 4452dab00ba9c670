#include "platform/runtime_library.h"

#include <dlfcn.h>

namespace tessal::platform {

void* LibraryEntryPoints::lookUp(const char* name) const { return dlsym(library_, name); }

namespace detail {

// Local binding keeps the library's names from resolving anybody else's.
void* openSharedObject(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

void closeSharedObject(void* library) { dlclose(library); }

}  // namespace detail

}  // namespace tessal::platform
