# The speech tests need espeak-ng and sox (to speak their clips) and pocketsphinx (to hear
# them). A machine without one of them still registers each such test, as one that fails at once
# naming what is missing, so a run never passes by leaving speech out.
find_program(ESPEAK_NG_PROGRAM espeak-ng)
find_program(SOX_PROGRAM sox)
set(VERNALO_SPEECH_MISSING "")
if(NOT ESPEAK_NG_PROGRAM)
    list(APPEND VERNALO_SPEECH_MISSING espeak-ng)
endif()
if(NOT SOX_PROGRAM)
    list(APPEND VERNALO_SPEECH_MISSING sox)
endif()
if(NOT POCKETSPHINX_FOUND)
    list(APPEND VERNALO_SPEECH_MISSING pocketsphinx)
endif()

function(add_missing_speech_test name)
    string(REPLACE ";" ", " _missing "${VERNALO_SPEECH_MISSING}")
    add_test(NAME ${name} COMMAND sh -c
             "echo '${name}: ${_missing} not found when the build was configured; run ./dev setup and configure again' >&2; exit 1")
    set_tests_properties(${name} PROPERTIES LABELS "${ARGN}")
endfunction()
