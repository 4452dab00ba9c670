#pragma once

namespace tessal::facade {

// Sets up process-wide state once, when the first object is created (not from
// a load-time constructor, whose order against other static initialisers is
// not fixed): the global log and its header, the XML library, the locks.
void ensureModuleInitialised();

}  // namespace tessal::facade
