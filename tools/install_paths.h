// Where quorvane-render finds the files it ships with (the native module and
// the plotting script): relative to the program's own location, so an
// installed copy works under any prefix and the build tree works as built.
#pragma once

#include <string>

namespace qvtools {

// The folder holding the running program, with a trailing '/'; empty when the
// system does not say.
std::string programFolder();

// The first of the places this program's files are looked for that holds
// `name`: the installed layout first, then the build tree's. Empty when none
// does; `searched` then lists where it looked.
std::string findShippedFile(const std::string& name, std::string* searched);

// A module path as dlopen should take it: a bare file name would start a
// library search instead of naming the file in the current folder.
std::string asFilePath(const std::string& path);

}  // namespace qvtools
