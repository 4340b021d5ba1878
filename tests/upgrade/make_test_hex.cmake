# Makes the Intel HEX test files in DIR with OBJCOPY (see CMakeLists.txt).
function(random_binary path size)
  execute_process(COMMAND head -c ${size} /dev/urandom
    OUTPUT_FILE ${path} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot make ${path}")
  endif()
endfunction()

function(to_hex bin hex address)
  execute_process(COMMAND ${OBJCOPY} -I binary -O ihex --change-addresses ${address} ${bin} ${hex}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${OBJCOPY} failed on ${bin}")
  endif()
endfunction()

random_binary(${DIR}/random_a.bin 3000)
random_binary(${DIR}/random_b.bin 1000)
random_binary(${DIR}/firmware28k.bin 28672)
to_hex(${DIR}/random_a.bin ${DIR}/random_a.hex 0)
to_hex(${DIR}/random_b.bin ${DIR}/random_b.hex 0x2345)
to_hex(${DIR}/firmware28k.bin ${DIR}/firmware28k.hex 0)
file(READ ${DIR}/random_a.hex first)
file(READ ${DIR}/random_b.hex second)
# One file ends with one end-of-file record: the first part's goes.
string(REPLACE ":00000001FF\r\n" "" first "${first}")
string(REPLACE ":00000001FF\n" "" first "${first}")
file(WRITE ${DIR}/random.hex "${first}${second}")

# The same two parts as srec_cat writes them (an extended linear address
# record first, records of 32 bytes, LF line ends), where it is installed.
if(SREC_CAT)
  execute_process(COMMAND ${SREC_CAT} ${DIR}/random_a.bin -binary
                          ${DIR}/random_b.bin -binary -offset 0x2345
                          -o ${DIR}/random_srec.hex -intel
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${SREC_CAT} failed")
  endif()
endif()
