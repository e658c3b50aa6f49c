# `cmake --install` (make install): the library, its public headers under
# include/veskgsm/ with the tree's layout, a CMake package and a pkg-config
# file, so that an application finds it either way:
#
#   find_package(VeskGSM CONFIG REQUIRED)          # CMAKE_PREFIX_PATH=<prefix>
#   target_link_libraries(app PRIVATE veskgsm::veskgsm)
#
#   c++ -std=c++17 app.cpp $(pkg-config --cflags --libs veskgsm)
#
# and writes `#include "component/VeskGSM.h"` as in the tree. Both describe
# the package relative to their own place, so it may be installed under any
# prefix (cmake --install build --prefix DIR) and moved.
include(CMakePackageConfigHelpers)

set(VESK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/VeskGSM)

install(TARGETS veskgsm EXPORT VeskGSMTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(header ${VESK_PUBLIC_HEADERS})
  get_filename_component(dir ${header} DIRECTORY)
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/veskgsm/${dir})
endforeach()

install(EXPORT VeskGSMTargets NAMESPACE veskgsm:: DESTINATION ${VESK_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/VeskGSMConfig.cmake.in ${PROJECT_BINARY_DIR}/VeskGSMConfig.cmake
                              INSTALL_DESTINATION ${VESK_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VeskGSMConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VeskGSMConfig.cmake ${PROJECT_BINARY_DIR}/VeskGSMConfigVersion.cmake
        DESTINATION ${VESK_INSTALL_CMAKEDIR})

# pkg-config: the prefix is found from the .pc file's own folder.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VESK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(VESK_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(VESK_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH _vesk_up /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  string(REGEX REPLACE "/$" "" _vesk_up "${_vesk_up}")
  set(VESK_PC_PREFIX "\${pcfiledir}/${_vesk_up}")
  set(VESK_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(VESK_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
# A static library brings its need of the thread library to the link; a
# shared one carries it itself.
if(VESK_SHARED)
  set(VESK_PC_LIBS "-L\${libdir} -lveskgsm")
  set(VESK_PC_LIBS_PRIVATE "-pthread")
else()
  set(VESK_PC_LIBS "-L\${libdir} -lveskgsm -pthread")
  set(VESK_PC_LIBS_PRIVATE "")
endif()
configure_file(cmake/veskgsm.pc.in ${PROJECT_BINARY_DIR}/veskgsm.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/veskgsm.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
