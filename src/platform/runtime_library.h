#pragma once
// Libraries opened at run time, by the first call that needs them, rather than
// mapped when the process starts: a process that never uses the service behind
// one then pays neither its memory nor its start-up time.
#include <optional>

namespace tessal::platform {

// The entry points of one opened library, looked up by name.
class LibraryEntryPoints {
public:
    explicit LibraryEntryPoints(void* library) : library_(library) {}

    // Sets `target` to the entry point `name`; false when the library lacks it.
    template <typename Function>
    bool find(const char* name, Function& target) const {
        void* symbol = lookUp(name);
        if (!symbol) return false;
        target = reinterpret_cast<Function>(symbol);
        return true;
    }

private:
    void* lookUp(const char* name) const;
    void* library_;
};

// Opens the library file named `soname` and has `bind` fill a Table from its
// entry points; nothing when the file does not open or `bind` answers false.
// A bound library stays loaded for the life of the process: handles and
// callbacks it gave out may outlive any owner here.
template <typename Table, typename Bind>
std::optional<Table> openRuntimeLibrary(const char* soname, Bind bind);

namespace detail {
void* openSharedObject(const char* soname);
void closeSharedObject(void* library);
}  // namespace detail

template <typename Table, typename Bind>
std::optional<Table> openRuntimeLibrary(const char* soname, Bind bind) {
    void* library = detail::openSharedObject(soname);
    if (!library) return std::nullopt;
    Table table{};
    if (!bind(LibraryEntryPoints(library), table)) {
        detail::closeSharedObject(library);
        return std::nullopt;
    }
    return table;
}

}  // namespace tessal::platform
