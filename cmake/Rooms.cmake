# A layer's files live in rooms, one folder per concern. A layer's CMakeLists.txt
# names its rooms; these helpers gather the files room by room.

# Sets OUT to the files of each ROOM under BASE that match one of PATTERNS
# (a list such as "*.cpp;*.c").
function(veltrano_room_files out base patterns)
  set(files "")
  foreach(room IN LISTS ARGN)
    foreach(pattern IN LISTS patterns)
      file(GLOB found CONFIGURE_DEPENDS ${base}/${room}/${pattern})
      list(APPEND files ${found})
    endforeach()
  endforeach()
  list(SORT files)
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# Sets OUT to the folders of each ROOM under BASE.
function(veltrano_room_dirs out base)
  set(dirs "")
  foreach(room IN LISTS ARGN)
    list(APPEND dirs ${base}/${room})
  endforeach()
  set(${out} ${dirs} PARENT_SCOPE)
endfunction()

# Stops the configure when a source or header under BASE lies in no named ROOM: a
# file merged or added beside the rooms would otherwise go unbuilt.
function(veltrano_rooms_complete base)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${base}/*.cpp ${base}/*.c ${base}/*.h)
  file(RELATIVE_PATH layer ${CMAKE_SOURCE_DIR} ${base})
  list(JOIN ARGN ", " rooms)
  foreach(file IN LISTS files)
    get_filename_component(dir ${file} DIRECTORY)
    file(RELATIVE_PATH room ${base} ${dir})
    if(NOT room IN_LIST ARGN)
      file(RELATIVE_PATH shown ${CMAKE_SOURCE_DIR} ${file})
      message(FATAL_ERROR "${shown} lies outside the rooms of ${layer} (${rooms}): "
        "move it into the room of its concern")
    endif()
  endforeach()
endfunction()
