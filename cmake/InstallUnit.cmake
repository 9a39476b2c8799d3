# Run by "cmake --install": writes the systemd unit with the paths of this installation, so a
# "--prefix" given at install time is the one the unit names.
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(ZEV_BINDIR "${prefix}/${ZEV_INSTALL_BINDIR}")
set(ZEV_CONFDIR "${prefix}/${ZEV_INSTALL_CONFDIR}")
set(ZEV_DOCDIR "${prefix}/${ZEV_INSTALL_DOCDIR}")
set(unit_dir "$ENV{DESTDIR}${prefix}/lib/systemd/system")
file(MAKE_DIRECTORY "${unit_dir}")
configure_file("${ZEV_SOURCE_DIR}/dist/zevserver@.service.in" "${unit_dir}/zevserver@.service"
               @ONLY)
message(STATUS "Installing: ${unit_dir}/zevserver@.service")
# Listed in install_manifest.txt like every other installed file, for uninstalling.
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${unit_dir}/zevserver@.service")
