// Where a tool finds the import modules when the user names no directory:
// the module directory of the installation the tool belongs to.
#pragma once
#include <string>

namespace KorTools {

// The module directory beside this executable (<bin>/../lib/.../korloader,
// so that a moved installation and the build tree, which has the same
// layout, both work), else the directory the build was configured to
// install to; "" when neither exists.
std::string DefaultModuleDir();

// The suffix of the installed modules' names (vdbplug_<suffix>), the second
// argument of initalizeKoraLoader().
const char* ModuleSuffix();

}  // namespace KorTools
