target_sources(quorvan_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/hash.cpp ${CMAKE_CURRENT_LIST_DIR}/csplist.cpp)
target_link_libraries(quorvan_core PUBLIC advapi32)
