# Container, properties, record, item images, file search.
vrex_add_test(package_container_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/pkg_container_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/pkg_properties_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/pkg_item_test.cc
    ${CMAKE_CURRENT_LIST_DIR}/pkg_find_files_test.cc
  LIBS vrex_package vrex_platform vrex_pkgbuild)
