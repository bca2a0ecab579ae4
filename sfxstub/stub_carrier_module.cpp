// The Windows builds: the stubs are resources of the module file this code
// is linked into, read through the PE model like the builder reads its own.
#include "exeimage/exe_image.h"
#include "sfxstub/stub_carrier.h"
#include "support/log_base.h"
#include "support/platform.h"

ExeImage* loadStubCarrier(std::string* name, LogBase& log) {
    char path[1024];
    if (platform::modulePath(reinterpret_cast<const void*>(&loadStubCarrier), path, sizeof path) == 0) {
        log.logError("Failed to get the path of the program's own module");
        return nullptr;
    }
    name->assign(path);
    return ExeImage::loadFromFile(path, &log);
}
