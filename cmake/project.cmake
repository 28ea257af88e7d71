# Settings shared by every target of the project.

include(GNUInstallDirs)

if(PELKAT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# Warnings are errors for the project's own code (not for GoogleTest or generated files).
function(pelkat_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Host code keeps its console texts as UTF-8 in the source and emits them as Shift-JIS bytes.
function(pelkat_host_charset target)
  target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=CP932)
endfunction()

if(WIN32)
  # One self-contained pelkat.exe: no MinGW runtime DLLs to ship.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

# Adds every sub-folder of the calling folder that has build rules of its own: each
# holds one part (of the emulator, the tests or the benchmarks).
function(pelkat_add_part_folders)
  file(GLOB parts LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(part ${parts})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${part}/CMakeLists.txt)
      add_subdirectory(${part})
    endif()
  endforeach()
endfunction()
