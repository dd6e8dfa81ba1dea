# Client-added latency of a live recording (chunk to socket, final event to transcript) and memory
# over a simulated 3-hour recording; both drive the real controller over the scripted microphone
# and virtual clock of tests/support, against a backend on a thread of its own.
set(_rig_sources
    ${CMAKE_CURRENT_LIST_DIR}/bench_backend_peer.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_backend_peer.h
    ${CMAKE_CURRENT_LIST_DIR}/bench_recording_rig.cpp ${CMAKE_CURRENT_LIST_DIR}/bench_recording_rig.h
    ${CMAKE_SOURCE_DIR}/tests/support/fake_clock.cpp ${CMAKE_SOURCE_DIR}/tests/support/fake_clock.h
    ${CMAKE_SOURCE_DIR}/tests/support/fake_audio_system.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/fake_audio_system.h
    ${CMAKE_SOURCE_DIR}/tests/support/fake_desktop_services.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/fake_desktop_services.h)
add_library(vernalo_bench_recording_rig STATIC ${_rig_sources})
target_include_directories(vernalo_bench_recording_rig PUBLIC ${CMAKE_CURRENT_LIST_DIR}
                           ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(vernalo_bench_recording_rig PUBLIC vernalo_core Qt6::HttpServer
                      Qt6::WebSockets)

add_vernalo_bench(bench_latency SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_latency.cpp
                  LIBRARIES vernalo_bench_recording_rig)
