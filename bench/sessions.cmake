add_vernalo_bench(bench_sessions SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_sessions.cpp)
