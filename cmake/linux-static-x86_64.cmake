# The self-contained velmora-cli for Linux on x86_64, statically linked.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELMORA_LINUX_TRIPLET x86_64-linux-gnu)
set(VELMORA_LINUX_ARCH x86_64)  # in the tarball's name
include(${CMAKE_CURRENT_LIST_DIR}/linux-static-common.cmake)
