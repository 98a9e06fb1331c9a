#pragma once
// Makes the user-interface classes known to ClassRegistry by name, so that screens and views
// named in property lists (and their registered subclasses) can be made and walked up to these
// bases. Call once at start-up; calling again does no harm.

namespace zv::ui {

void registerUIClasses();

}  // namespace zv::ui
