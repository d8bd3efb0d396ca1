# Packs the self-contained velmora-cli for one processor and checks what went
# in: the stripped program (statically linked, for that processor, as `file`
# sees it), its manual page, the unit file for /usr/local/bin and its settings
# file, and the read-me; nothing else, in one folder named like the tarball.
#
#   cmake -DPROGRAM=bin/velmora-cli -DSTRIP=aarch64-linux-gnu-strip -DARCH=aarch64
#         -DVERSION=1.0.0 -DMANUAL=velmora-cli.1 -DUNIT_IN=velmora-watch@.service.in
#         -DSETTINGS=velmora-watch.default -DREADME=README-static.txt
#         -DTARBALL=out/velmora-cli-1.0.0-linux-aarch64.tar.gz -P static_tarball.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../pack_and_check.cmake)

foreach(name PROGRAM STRIP ARCH VERSION MANUAL UNIT_IN SETTINGS README TARBALL)
    if(NOT DEFINED ${name})
        message(FATAL_ERROR "static_tarball.cmake needs -D${name}=...")
    endif()
endforeach()
# What `file` says of a program for each processor.
set(machine_x86_64 "x86-64")
set(machine_aarch64 "ARM aarch64")
set(machine_armhf "ARM, EABI5")
if(NOT DEFINED machine_${ARCH})
    message(FATAL_ERROR "no tarball for processor ${ARCH}")
endif()
find_program(FILE_PROGRAM file REQUIRED)

get_filename_component(out_dir "${TARBALL}" DIRECTORY)
set(top velmora-cli-${VERSION}-linux-${ARCH})
set(staging "${out_dir}/${top}.staging")
set(unpacked "${out_dir}/${top}.check")
set(contents "${staging}/${top}")
set(expected README.txt velmora-cli velmora-cli.1 velmora-watch.default velmora-watch@.service)

file(REMOVE_RECURSE "${staging}" "${unpacked}")
file(REMOVE "${TARBALL}")
file(MAKE_DIRECTORY "${contents}" "${unpacked}")
execute_process(COMMAND "${STRIP}" -o "${contents}/velmora-cli" "${PROGRAM}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "could not strip ${PROGRAM}")
endif()
file(COPY_FILE "${MANUAL}" "${contents}/velmora-cli.1")
file(COPY_FILE "${SETTINGS}" "${contents}/velmora-watch.default")
# The unit as for a program copied to /usr/local/bin, its settings in
# /etc/default, as the read-me says.
set(VELMORA_CLI_PATH /usr/local/bin/velmora-cli)
set(VELMORA_SETTINGS_FILE /etc/default/velmora-watch)
configure_file("${UNIT_IN}" "${contents}/velmora-watch@.service" @ONLY)
set(VELMORA_VERSION "${VERSION}")
set(VELMORA_ARCH "${ARCH}")
configure_file("${README}" "${contents}/README.txt" @ONLY)

pack_and_check("${TARBALL}" czf "" "${staging}" "${top}/" "${unpacked}" ${expected})
# The program as unpacked: runnable by anybody, statically linked, stripped,
# for the processor in the tarball's name; no @name@ left in the texts.
set(program "${unpacked}/${top}/velmora-cli")
execute_process(COMMAND "${FILE_PROGRAM}" -b "${program}" OUTPUT_VARIABLE kind)
string(STRIP "${kind}" kind)
execute_process(COMMAND stat -c %a "${program}" OUTPUT_VARIABLE mode)
string(STRIP "${mode}" mode)
file(SIZE "${program}" size)
if(NOT kind MATCHES "statically linked" OR NOT kind MATCHES "${machine_${ARCH}}" OR
   NOT kind MATCHES ", stripped$" OR NOT mode MATCHES "[1357]$")
    message(FATAL_ERROR "velmora-cli in ${TARBALL}: ${kind} (mode ${mode})")
endif()
foreach(name README.txt velmora-watch@.service)
    file(READ "${unpacked}/${top}/${name}" text)
    if(text MATCHES "@[A-Z_]+@")
        message(FATAL_ERROR "${name} in ${TARBALL}: a @name@ left")
    endif()
endforeach()
file(REMOVE_RECURSE "${staging}" "${unpacked}")
message(STATUS "${TARBALL}: ${listing}; velmora-cli ${size} bytes, ${kind}")
