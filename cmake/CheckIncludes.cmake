# The include rule: what a file of a part includes, checked against the table
# at the top of CMakeLists.txt, which the configure step writes out as RULES.
#
# Each #include is classified by what it names, not by how it is spelled:
#  - a file of the project (looked for beside the including file for "...",
#    then under src/, tools/, the top folder and the part's DIRS) belongs to
#    the part whose folder holds it: the part itself, one named in PARTS, or
#    one of its headers named there ("books/Books.h"); a file in no part's
#    folder must lie beside the including file or in a folder of DIRS, and
#    is then checked too, with the same rules, as a file of the part;
#  - a header of the C or C++ standard library (the list below) is for all;
#  - a header of a library of the table (zeplo_library) is for the parts
#    that name the library in LIBS;
#  - a header of Qt, however written (<QWidget>, <qwidget.h>,
#    <QtWidgets/QWidget>), is for the parts that name its module in QT;
#  - "name.moc", which the build writes, is for all.
# Anything else, an include of a macro among it, is refused.
#
# Built targets run it as a script:
#   cmake -DRULES=file -DPART=part -DSOURCES=a;b -DSTAMP=file -P CheckIncludes.cmake
# A source lying in the folder of a part of the table is checked as that part,
# any other (tests, benchmarks, fuzz targets) as PART. Included without STAMP,
# it only defines its functions (the rule's own test uses them).
cmake_minimum_required(VERSION 3.25)

# The C and C++ standard libraries (C++23 at most), for every part.
set(ZEPLO_STANDARD_HEADERS
    algorithm any array atomic barrier bit bitset charconv chrono codecvt compare complex concepts
    condition_variable coroutine deque exception execution expected filesystem format forward_list fstream
    functional future generator initializer_list iomanip ios iosfwd iostream istream iterator latch limits list
    locale map mdspan memory memory_resource mutex new numbers numeric optional ostream print queue random
    ranges ratio regex scoped_allocator semaphore set shared_mutex source_location span spanstream sstream
    stack stacktrace stdexcept stdfloat stop_token streambuf string string_view syncstream system_error
    thread tuple type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant vector
    version
    cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csetjmp csignal cstdarg cstddef
    cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype
    assert.h ctype.h errno.h fenv.h float.h inttypes.h limits.h locale.h math.h setjmp.h signal.h stdarg.h
    stddef.h stdint.h stdio.h stdlib.h string.h time.h uchar.h wchar.h wctype.h)

# The part whose folder holds `path` (the deepest such folder), or nothing.
function(zeplo_folder_part out path)
  set(found "")
  set(found_length 0)
  foreach(part IN LISTS ZEPLO_PARTS)
    set(folder "${ZEPLO_PART_${part}_FOLDER}")
    if(folder)
      cmake_path(IS_PREFIX folder "${path}" NORMALIZE inside)
      string(LENGTH "${folder}" length)
      if(inside AND length GREATER found_length)
        set(found ${part})
        set(found_length ${length})
      endif()
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

# The library of the table whose headers `header` is one of, or nothing.
function(zeplo_header_library out header)
  foreach(library IN LISTS ZEPLO_LIBRARIES)
    foreach(pattern IN LISTS ZEPLO_LIBRARY_${library}_HEADERS)
      if(pattern MATCHES "^(.*/)\\*$")
        string(FIND "${header}" "${CMAKE_MATCH_1}" at)
        if(at EQUAL 0)
          set(${out} ${library} PARENT_SCOPE)
          return()
        endif()
      elseif(header STREQUAL pattern)
        set(${out} ${library} PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  set(${out} "" PARENT_SCOPE)
endfunction()

# The Qt modules that hold `header`: by its module folder when it names one,
# else every module that has a header of that name (Qt's class headers and
# their lower-case files alike).
function(zeplo_qt_modules out header)
  set(modules "")
  if(header MATCHES "^Qt([A-Za-z]+)/" AND CMAKE_MATCH_1 IN_LIST ZEPLO_QT_MODULES)
    set(modules ${CMAKE_MATCH_1})
  else()
    foreach(module IN LISTS ZEPLO_QT_MODULES)
      if(EXISTS "${ZEPLO_QT_ROOT}/Qt${module}/${header}")
        list(APPEND modules ${module})
      endif()
    endforeach()
  endif()
  set(${out} "${modules}" PARENT_SCOPE)
endfunction()

# Sets `out` to what is wrong with `sources` as files of `part`: one line per
# refused include. `home` is the folder the sources are taken to lie in (empty:
# each its own). The part's own headers outside any part's folder are checked
# as they are reached.
function(zeplo_include_problems out part home)
  set(problems "")
  set(queue "")
  foreach(source IN LISTS ARGN)
    cmake_path(ABSOLUTE_PATH source NORMALIZE)
    list(APPEND queue "${source}")
  endforeach()
  set(given ${queue})
  set(seen ${queue})
  while(queue)
    list(POP_FRONT queue source)
    set(folder "${home}")
    if(NOT folder OR NOT source IN_LIST given)
      get_filename_component(folder "${source}" DIRECTORY)
    endif()
    zeplo_folder_part(owner "${folder}")
    if(NOT owner)
      set(owner ${part})
    endif()
    set(dirs ${ZEPLO_PART_${owner}_DIRS})
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(NOT line MATCHES "^[ \t]*#[ \t]*include")
        continue()   # the rest of a line cut at a semicolon
      endif()
      if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
        list(APPEND problems "${source}: ${line}: names no header")
        continue()
      endif()
      set(quote "${CMAKE_MATCH_1}")
      set(header "${CMAKE_MATCH_2}")
      if(quote STREQUAL "<")
        set(written "<${header}>")
      else()
        set(written "\"${header}\"")
      endif()

      # A file of the project?
      set(bases ${ZEPLO_ROOTS} ${dirs})
      if(quote STREQUAL "\"")
        list(PREPEND bases "${folder}")
      endif()
      set(file "")
      foreach(base IN LISTS bases)
        cmake_path(ABSOLUTE_PATH header BASE_DIRECTORY "${base}" NORMALIZE OUTPUT_VARIABLE candidate)
        if(EXISTS "${candidate}" AND NOT IS_DIRECTORY "${candidate}")
          set(file "${candidate}")
          break()
        endif()
      endforeach()
      if(file)
        zeplo_folder_part(holder "${file}")
        if(holder)
          cmake_path(RELATIVE_PATH file BASE_DIRECTORY "${ZEPLO_PART_${holder}_FOLDER}" OUTPUT_VARIABLE inside)
          if(NOT holder STREQUAL owner AND NOT holder IN_LIST ZEPLO_PART_${owner}_PARTS
             AND NOT "${holder}/${inside}" IN_LIST ZEPLO_PART_${owner}_PARTS)
            list(APPEND problems "${source}: ${written}: a header of ${holder}, which ${owner} may not include")
          endif()
        else()
          get_filename_component(file_folder "${file}" DIRECTORY)
          if(file_folder STREQUAL folder OR file_folder IN_LIST dirs)
            if(NOT file IN_LIST seen)
              list(APPEND seen "${file}")
              list(APPEND queue "${file}")
            endif()
          else()
            cmake_path(RELATIVE_PATH file_folder BASE_DIRECTORY "${ZEPLO_SOURCE_DIR}" OUTPUT_VARIABLE where)
            list(APPEND problems "${source}: ${written}: a header of ${where}/, which ${owner} may not include")
          endif()
        endif()
        continue()
      endif()

      if(header IN_LIST ZEPLO_STANDARD_HEADERS)
        continue()
      endif()
      zeplo_header_library(library "${header}")
      if(library)
        if(NOT library IN_LIST ZEPLO_PART_${owner}_LIBS)
          list(APPEND problems "${source}: ${written}: a header of ${library}, which ${owner} may not include")
        endif()
        continue()
      endif()
      zeplo_qt_modules(modules "${header}")
      if(modules)
        set(allowed FALSE)
        foreach(module IN LISTS modules)
          if(module IN_LIST ZEPLO_PART_${owner}_QT)
            set(allowed TRUE)
          endif()
        endforeach()
        if(NOT allowed)
          list(JOIN modules " or " names)
          list(APPEND problems "${source}: ${written}: a header of Qt's ${names}, which ${owner} may not include")
        endif()
        continue()
      endif()
      if(quote STREQUAL "\"" AND header MATCHES "^[^/]+\\.moc$")
        continue()   # what the build writes for a source's own Qt objects
      endif()
      list(APPEND problems "${source}: ${written}: a header the table does not know")
    endforeach()
  endwhile()
  set(${out} "${problems}" PARENT_SCOPE)
endfunction()

# Sets `out` to the sources and headers under `folders` (recursively) that
# `listed` does not name.
function(zeplo_unlisted_sources out folders listed)
  set(unlisted "")
  foreach(folder IN LISTS folders)
    file(GLOB_RECURSE found LIST_DIRECTORIES false
         "${folder}/*.h" "${folder}/*.hh" "${folder}/*.hpp" "${folder}/*.hxx"
         "${folder}/*.c" "${folder}/*.cc" "${folder}/*.cpp" "${folder}/*.cxx")
    foreach(file IN LISTS found)
      if(NOT file IN_LIST listed)
        list(APPEND unlisted "${file}")
      endif()
    endforeach()
  endforeach()
  set(${out} "${unlisted}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  include("${RULES}")
  zeplo_include_problems(problems "${PART}" "" ${SOURCES})
  if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Includes the table at the top of CMakeLists.txt does not allow:\n  ${text}")
  endif()
  file(WRITE "${STAMP}" "")
endif()
