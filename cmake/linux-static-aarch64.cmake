# The self-contained velmora-cli for Linux on 64-bit ARM (aarch64), statically
# linked; run here under qemu-aarch64-static.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VELMORA_LINUX_TRIPLET aarch64-linux-gnu)
set(VELMORA_LINUX_ARCH aarch64)  # in the tarball's name
set(VELMORA_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-static-common.cmake)
