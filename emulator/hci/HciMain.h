// qb7720-emulator --hci INDEX[,INDEX...] [CONFIG...]: one emulated bridge per controller.
#pragma once

namespace qb::hci {

// argv[1] is "--hci". Returns the process's exit status.
int hciMain(int argc, char** argv);

}  // namespace qb::hci
