#include "ui/common/process_setup.h"

namespace gps {

void PrepareProcess() {}

}  // namespace gps
