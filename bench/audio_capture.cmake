# Conversion throughput and the CPU cost of a running capture (against a private PulseAudio,
# started by the same fixture the integration tests use).
add_vernalo_bench(bench_audio_capture
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_audio_capture.cpp
            ${CMAKE_SOURCE_DIR}/tests/support/pulse_fixture.cpp
    LIBRARIES vernalo_pulse)
target_include_directories(bench_audio_capture PRIVATE ${CMAKE_SOURCE_DIR}/tests)
