#include "hid/win32/system_library.h"
#include "ui/common/process_setup.h"

namespace gps {

void PrepareProcess() { RestrictDllSearchToSystem(); }

}  // namespace gps
