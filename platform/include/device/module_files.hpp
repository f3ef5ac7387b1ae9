// Host side: the resources of the device's module files, read from the files without loading
// them or booting a device.
#pragma once

#include <string>

namespace dev {

// The data of the resource `name` of type `type` of the module file `module` in the folder
// `windows_dir` (its name in any case, as LoadLibraryW finds it); false with why.
bool module_resource(const std::string& windows_dir, const std::string& module,
                     const std::string& type, const std::string& name, std::string* data,
                     std::string* why);

}  // namespace dev
