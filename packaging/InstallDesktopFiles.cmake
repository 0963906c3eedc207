# Runs at install time (see CMakeLists.txt): writes the desktop entries and the D-Bus
# service file for the programs under CMAKE_INSTALL_PREFIX, into DESTDIR when set.

# A path as one quoted argument of a desktop entry's Exec key: inside the quotes a
# backslash, quote, back-tick or dollar sign is escaped, and a percent sign is doubled;
# the whole value is then escaped once more as a desktop entry string.
function(qv_exec_argument path out)
  string(REPLACE "\\" "\\\\" quoted "${path}")
  foreach(char "\"" "`" "$")
    string(REPLACE "${char}" "\\${char}" quoted "${quoted}")
  endforeach()
  string(REPLACE "%" "%%" quoted "${quoted}")
  string(REPLACE "\\" "\\\\" quoted "${quoted}")
  set(${out} "\"${quoted}\"" PARENT_SCOPE)
endfunction()

function(qv_install_generated template destination)
  get_filename_component(folder "$ENV{DESTDIR}${destination}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  message(STATUS "Installing: $ENV{DESTDIR}${destination}")
  configure_file("${template}" "$ENV{DESTDIR}${destination}" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "$ENV{DESTDIR}${destination}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

if(IS_ABSOLUTE "${QV_DESKTOP_DATA_DIR}")
  set(data "${QV_DESKTOP_DATA_DIR}")
else()
  set(data "${CMAKE_INSTALL_PREFIX}/${QV_DESKTOP_DATA_DIR}")
endif()
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(hub_program "${prefix}/Quorvane Plugin Hub.app/Contents/MacOS/Quorvane Plugin Hub")
set(sam_program "${prefix}/Quorvane FCPX Exporter.app/Contents/MacOS/Quorvane FCPX Exporter")

qv_exec_argument("${hub_program}" QV_HUB_EXEC)
qv_exec_argument("${sam_program}" QV_SAM_EXEC)
qv_install_generated("${QV_PACKAGING_DIR}/com.oxburyworks.QuorvPluginHub.desktop.in"
                     "${data}/applications/com.oxburyworks.QuorvPluginHub.desktop")
qv_install_generated("${QV_PACKAGING_DIR}/com.oxburyworks.QuorvFCPXExporter.desktop.in"
                     "${data}/applications/com.oxburyworks.QuorvFCPXExporter.desktop")

# The bus reads Exec with shell-like quoting: a backslash or quote inside the quotes
# the template puts around the path is escaped.
string(REPLACE "\\" "\\\\" SAM_EXECUTABLE "${sam_program}")
string(REPLACE "\"" "\\\"" SAM_EXECUTABLE "${SAM_EXECUTABLE}")
foreach(destination "${data}/dbus-1/services"
                    "${prefix}/Quorvane FCPX Exporter.app/Contents/Resources")
  qv_install_generated("${QV_SERVICE_TEMPLATE}"
                       "${destination}/com.oxburyworks.QuorvFCPXExporter.service")
endforeach()
