# Settings shared by every target of the project.

# Warnings are errors in every build, the shipping i686 one included.
set(KORVANE_WARNINGS -Wall -Wextra -Werror)

# Programs carry their runtime: no mingw DLL travels with them.
set(KORVANE_STATIC_LINK -static -static-libgcc -static-libstdc++)

add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)

function(korvane_target target)
  target_compile_options(${target} PRIVATE ${KORVANE_WARNINGS})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE" OR type STREQUAL "SHARED_LIBRARY" OR type STREQUAL "MODULE_LIBRARY")
    target_link_options(${target} PRIVATE ${KORVANE_STATIC_LINK})
    # What ships carries no symbol tables.
    target_link_options(${target} PRIVATE $<$<CONFIG:Release>:-s>)
  endif()
endfunction()

# Places a built file into dist/<arch>/ beside the other deliverables.
set(KORVANE_ARCH ${CMAKE_SYSTEM_PROCESSOR})
if(KORVANE_ARCH STREQUAL "x86")
  set(KORVANE_DIST_NAME i686)
else()
  set(KORVANE_DIST_NAME x86_64)
endif()

# A DLL whose .def file names __stdcall exports plainly: on 32-bit Windows the compiler decorates
# them (F@4); this links the plain name to the decorated symbol without a warning.
function(korvane_plain_stdcall_exports target)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endfunction()

# Embeds the application manifest (common/manifest) into a shipped program. Test programs go
# without: they are not what a user starts.
function(korvane_application_manifest target)
  set(rc ${PROJECT_SOURCE_DIR}/common/manifest/application_manifest.rc)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/common/manifest/application.manifest)
endfunction()

# korvane_add_com_client(<name> <source>): a client program of the server that tests start as a
# process of its own (early-bound through the generated header).
function(korvane_add_com_client name source)
  add_executable(${name} ${source} ${KORVANE_SERVER_GENERATED}/quandrelcom_i.c)
  korvane_target(${name})
  target_link_libraries(${name} PRIVATE korvane_common ole32 oleaut32 uuid)
  add_dependencies(${name} quandrelcom_idl)
endfunction()
