add_vernalo_bench(bench_search SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_search.cpp
                  LIBRARIES Qt6::Sql)
