# Shared by the toolchain files of the self-contained velmora-cli for Linux,
# which set CMAKE_SYSTEM_PROCESSOR, VELMORA_LINUX_TRIPLET and, when the
# program cannot run here natively, VELMORA_QEMU first. Built with Debian's
# cross compilers and linked statically (glibc, libstdc++ and libgcc
# included), so the program needs nothing on the box it runs on.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${VELMORA_LINUX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VELMORA_LINUX_TRIPLET}-g++)
set(CMAKE_STRIP ${VELMORA_LINUX_TRIPLET}-strip)

# A cross compiler's libraries and headers live under /usr/<triplet>; the
# native one's are the system's own.
if(IS_DIRECTORY /usr/${VELMORA_LINUX_TRIPLET}/lib)
    set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_LINUX_TRIPLET})
    set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
    set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
    set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
    set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
endif()

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Programs of another processor run under user-mode emulation
# (qemu-user-static), named in full so that no binfmt registration is needed.
if(VELMORA_QEMU)
    find_program(VELMORA_QEMU_PROGRAM ${VELMORA_QEMU} REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VELMORA_QEMU_PROGRAM})
endif()
