# Fails when a public header of the library is missing from the umbrella header qorv/qorv.h.
file(READ ${ROOT}/qorv/qorv.h umbrella)
file(GLOB_RECURSE headers RELATIVE ${ROOT} ${ROOT}/qorv/*/*.h)
set(missing)
foreach(h ${headers})
  # The framework stand-ins and the sibling libraries come in through the kernel's headers;
  # qorv/exchange is a library of its own (qorv::step).
  if(h MATCHES "^qorv/(platform|siblings|exchange)/")
    continue()
  endif()
  string(FIND "${umbrella}" "#include \"${h}\"" at)
  if(at EQUAL -1)
    list(APPEND missing ${h})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "qorv/qorv.h does not include: ${missing}")
endif()
message(STATUS "qorv/qorv.h includes every public header")
