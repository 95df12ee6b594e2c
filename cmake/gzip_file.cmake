# cmake -DGZIP=<gzip> -DIN=<file> -DOUT=<file.gz> -P gzip_file.cmake
# Compresses IN into OUT as Debian wants it: best compression, no name and no time stamp in the
# header (gzip -9n), so that the same input gives the same bytes on every build.
get_filename_component(folder ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${GZIP} -9n -c ${IN} OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(REMOVE ${OUT})
    message(FATAL_ERROR "gzip -9n ${IN} failed: ${status}")
endif()
