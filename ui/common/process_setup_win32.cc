#include "hid/system_library_win32.h"
#include "ui/common/process_setup.h"

namespace gps {

void PrepareProcess() { RestrictDllSearchToSystem(); }

}  // namespace gps
