# What every target of the project gets, set in one place: the warnings and
# the sanitizer of the build (ZHAND_SANITIZE: "" none, "address" ASan + UBSan,
# "thread" TSan). zhand_apply_target_options() walks every directory once the
# whole tree is known and calls zhand_target_options() for each target that
# compiles code.

function(zhand_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(ZHAND_SANITIZE STREQUAL "address")
    target_compile_options(${target} PRIVATE
      -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  elseif(ZHAND_SANITIZE STREQUAL "thread")
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  elseif(NOT ZHAND_SANITIZE STREQUAL "")
    message(FATAL_ERROR "ZHAND_SANITIZE must be empty, address or thread, not ${ZHAND_SANITIZE}")
  endif()
endfunction()

function(zhand_apply_target_options dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY|MODULE_LIBRARY)$")
      zhand_target_options(${target})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    zhand_apply_target_options(${subdir})
  endforeach()
endfunction()

# A test folder states the targets it tests; one that is missing is an error
# of the build, never a reason to leave the tests out.
function(zhand_require_targets)
  foreach(target IN LISTS ARGN)
    if(NOT TARGET ${target})
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}: the tests need the target ${target}")
    endif()
  endforeach()
endfunction()
