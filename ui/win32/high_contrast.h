// Whether the user has a high-contrast theme on: the dialog then keeps to
// the system's colours. Alone in its file, so that the dialog's tests can
// stand in for the system's answer (Wine's is always "off").
#pragma once

namespace gps {

bool HighContrastOn();

}  // namespace gps
