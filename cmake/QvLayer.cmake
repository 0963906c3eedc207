# qv_layer(NAME DIR [DEPS ...] [PKG ...])
# One static library made of every .cpp under DIR (not recursing into subfolders
# that are layers of their own). Headers are included as "<layer>/<Header>.h".
function(qv_layer name dir)
  cmake_parse_arguments(L "" "" "DEPS;PKG;LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS "${dir}/*.cpp")
  if(NOT srcs)
    set(srcs "${PROJECT_SOURCE_DIR}/cmake/empty.cpp")
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${L_DEPS} ${L_LIBS} Threads::Threads)
  foreach(p IN LISTS L_PKG)
    string(MAKE_C_IDENTIFIER "${p}" id)
    pkg_check_modules(PKG_${id} REQUIRED IMPORTED_TARGET ${p})
    target_link_libraries(${name} PUBLIC PkgConfig::PKG_${id})
  endforeach()
endfunction()

# qv_desktop_target(TARGET): Qt's code generators for one desktop target.
function(qv_desktop_target target)
  set_target_properties(${target} PROPERTIES AUTOMOC ON AUTOUIC ON)
endfunction()

# qv_tests(NAME DIR LABEL [DESKTOP] [DEPS ...])
# One GoogleTest executable per folder; files named peer_*_test.cpp go into a
# second executable labelled "peer" because they start real servers.
#
# DESKTOP tests have a QApplication made in their main
# (tests/helpers/desktop/DesktopTestMain.cpp), and files look_*_test.cpp form a third
# executable labelled "look" (screenshots into <build>/screenshots, see
# tests/helpers/desktop/DesktopTest). CTest runs them
# through tests/helpers/desktop-run: offscreen platform, a private 0700 runtime folder
# and a session bus of their own (dbus-run-session).
function(qv_tests name dir label)
  cmake_parse_arguments(T "DESKTOP" "" "DEPS" ${ARGN})
  file(GLOB all CONFIGURE_DEPENDS "${dir}/*_test.cpp")
  file(GLOB peer CONFIGURE_DEPENDS "${dir}/peer_*_test.cpp")
  set(look)
  if(T_DESKTOP)
    file(GLOB look CONFIGURE_DEPENDS "${dir}/look_*_test.cpp")
  endif()
  file(GLOB helpers CONFIGURE_DEPENDS "${dir}/*.cpp")
  list(FILTER helpers EXCLUDE REGEX "_test\\.cpp$")
  set(unit ${all})
  foreach(f IN LISTS peer look)
    list(REMOVE_ITEM unit ${f})
  endforeach()
  foreach(kind IN ITEMS unit peer look)
    if(NOT ${kind})
      continue()
    endif()
    set(exe ${name})
    set(labels ${label})
    if(kind STREQUAL "peer")
      set(exe ${name}_peer)
      # One label: a list would pair its items with the next property names. "ctest -L"
      # takes a regular expression, so "-L peer" and "-L <layer>" both find these.
      set(labels ${label}-peer)
    elseif(kind STREQUAL "look")
      set(exe ${name}_look)
      set(labels look)
    endif()
    if(T_DESKTOP)
      add_executable(${exe} ${${kind}} ${helpers}
                     ${PROJECT_SOURCE_DIR}/tests/helpers/desktop/DesktopTestMain.cpp)
      target_link_libraries(${exe} PRIVATE qv_desktop_testsupport Qt6::Test)
      qv_desktop_target(${exe})
      set_target_properties(${exe} PROPERTIES CROSSCOMPILING_EMULATOR
                            ${PROJECT_SOURCE_DIR}/tests/helpers/desktop-run)
    else()
      add_executable(${exe} ${${kind}} ${helpers})
    endif()
    target_link_libraries(${exe} PRIVATE ${T_DEPS} qv_testsupport GTest::gtest GTest::gmock)
    gtest_discover_tests(${exe} DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS "${labels}" TIMEOUT 300
      ENVIRONMENT "QV_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  endforeach()
endfunction()
