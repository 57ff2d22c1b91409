// Every name a package puts on the system: the title (a folder, a registry key, part of
// file and link names), the screensaver's file name and the translated words in file and
// link names. Read from a package nobody vouches for, each must be a plain Windows name:
// "..\" or a lone "\" would place a file or a link outside its folder, or make the uninstall
// entry the key of every program's entry.
#pragma once

#include "setup_package.h"

// False when any name this package's run would make is not a plain Windows name. The
// translation table must be built.
bool PackageNamesArePlain(const TSetupPackage& Package);
