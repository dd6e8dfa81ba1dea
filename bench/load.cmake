# The reference server under a bounded load, run by `./dev soak` (not by `./dev bench`: it takes a
# minute of real time and starts the server process).
if(TARGET vernalo-reference-server)
    add_executable(load_server ${CMAKE_CURRENT_LIST_DIR}/load_server.cpp)
    target_link_libraries(load_server PRIVATE vernalo_core)
    target_compile_definitions(load_server PRIVATE
                               VERNALO_SERVER_BINARY="$<TARGET_FILE:vernalo-reference-server>")
    add_dependencies(load_server vernalo-reference-server)
endif()
