# Settings shared by every target of the project.

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
