# The self-contained velmora-cli for Linux on 32-bit ARM (armhf: ARMv7, hard
# float), statically linked; run here under qemu-arm-static.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(VELMORA_LINUX_TRIPLET arm-linux-gnueabihf)
set(VELMORA_LINUX_ARCH armhf)  # in the tarball's name
set(VELMORA_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-static-common.cmake)
