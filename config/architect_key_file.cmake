# Writes the architect's encryption key file that the game reads from its key folder beside the
# programs: line 1 the key, line 2 the time (seconds) the key was first written here. Run at build
# time as `cmake -DKEY=<66 hex> -DOUT=<file> -DFOLDERS=<folders> -P architect_key_file.cmake`.
#
# The time-stamp stays as it was while the key is unchanged, so rebuilding does not make the key
# look newer; a new key gets the current time, or SOURCE_DATE_EPOCH for a reproducible build.
# The folders and the file are private to the user, like every file the game itself writes.
foreach(var KEY OUT FOLDERS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "architect_key_file.cmake: ${var} is not set")
  endif()
endforeach()

foreach(folder ${FOLDERS})
  file(MAKE_DIRECTORY ${folder})
  file(CHMOD ${folder} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()

set(ts "")
if(EXISTS ${OUT})
  file(STRINGS ${OUT} lines LIMIT_COUNT 2)
  list(LENGTH lines count)
  if(count EQUAL 2)
    list(GET lines 0 old_key)
    list(GET lines 1 old_ts)
    if(old_key STREQUAL KEY AND old_ts MATCHES "^-?[0-9]+$")
      set(ts ${old_ts})
    endif()
  endif()
endif()
if(ts STREQUAL "")
  string(TIMESTAMP ts "%s" UTC)
endif()

file(WRITE ${OUT} "${KEY}\n${ts}\n")
file(CHMOD ${OUT} FILE_PERMISSIONS OWNER_READ OWNER_WRITE)
