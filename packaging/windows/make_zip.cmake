# Packs the portable Windows zip: the program, the command-line program and
# the German read-me, nothing else, and checks what went in.
#
#   cmake -DPROGRAM=velmora.exe -DCLI=velmora-cli.exe -DREADME=LIESMICH.txt -DVERSION=1.0.0
#         -DZIP=out/velmora-1.0.0-windows-i686.zip -P make_zip.cmake
#
# The read-me's source is UTF-8 with Unix line ends, easy to edit here; in the
# zip it gets Windows line ends and a byte order mark, so that Notepad shows
# its umlauts on any Windows.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../pack_and_check.cmake)

foreach(name PROGRAM CLI README VERSION ZIP)
    if(NOT DEFINED ${name})
        message(FATAL_ERROR "make_zip.cmake needs -D${name}=...")
    endif()
endforeach()

get_filename_component(zip_dir "${ZIP}" DIRECTORY)
get_filename_component(zip_stem "${ZIP}" NAME_WLE)
set(contents "${zip_dir}/${zip_stem}")
set(unpacked "${zip_dir}/${zip_stem}-check")
set(expected LIESMICH.txt velmora-cli.exe velmora.exe)

# The read-me as Windows wants it.
file(READ "${README}" text)
string(ASCII 239 187 191 bom)
string(REGEX REPLACE "^${bom}" "" text "${text}")
set(VELMORA_VERSION "${VERSION}")
string(CONFIGURE "${text}" text @ONLY)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")

file(REMOVE_RECURSE "${contents}" "${unpacked}")
file(REMOVE "${ZIP}")
file(MAKE_DIRECTORY "${contents}" "${unpacked}")
file(COPY_FILE "${PROGRAM}" "${contents}/velmora.exe")
file(COPY_FILE "${CLI}" "${contents}/velmora-cli.exe")
file(WRITE "${contents}/LIESMICH.txt" "${bom}${text}")

pack_and_check("${ZIP}" cf --format=zip "${contents}" "" "${unpacked}" ${expected})
# Its bytes, one "xx " per byte: a BOM first, every line feed after a
# carriage return, no @name@ left.
file(READ "${unpacked}/LIESMICH.txt" bytes HEX)
string(REGEX REPLACE "(..)" "\\1 " bytes "${bytes}")
string(REPLACE "0d 0a " "" other "${bytes}")
if(NOT bytes MATCHES "^ef bb bf " OR other MATCHES "(^| )(0a|0d|40) ")
    message(FATAL_ERROR "LIESMICH.txt in ${ZIP}: no byte order mark, a Unix line end or a @name@ left")
endif()
file(REMOVE_RECURSE "${contents}" "${unpacked}")
message(STATUS "${ZIP}: ${listing}")
