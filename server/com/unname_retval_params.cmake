# Clears the names of the methods' [out, retval] parameters in a type library that widl wrote.
#   cmake -DTLB=<quandrelcom.tlb> -P unname_retval_params.cmake
#
# Clients see a method's result as the call's value, never as a parameter, so the type library
# publishes those parameters without a name. widl names every parameter the IDL leaves unnamed
# ("a", "b", ...), so the names are taken away here, in the library file (MSFT format): the name
# offset of each such parameter becomes -1, which readers report as "no name". A property get
# keeps the name of its result (the property's own name); a put's value is unnamed by widl
# already. Running the script again changes nothing.
cmake_minimum_required(VERSION 3.20)
if(NOT TLB OR NOT EXISTS "${TLB}")
  message(FATAL_ERROR "unname_retval_params: TLB=<type library file> is required")
endif()

file(READ "${TLB}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR file_size "${hex_length} / 2")

# Little-endian unsigned integer of `bytes` bytes at `offset`.
function(read_le offset bytes out)
  math(EXPR end "${offset} + ${bytes}")
  if(end GREATER file_size)
    message(FATAL_ERROR "unname_retval_params: ${TLB} is truncated (offset ${offset})")
  endif()
  set(value "")
  math(EXPR last "${bytes} - 1")
  foreach(i RANGE ${last})
    math(EXPR pos "(${offset} + ${i}) * 2")
    string(SUBSTRING "${hex}" ${pos} 2 byte)
    set(value "${byte}${value}")
  endforeach()
  math(EXPR value "0x${value}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

read_le(0 4 magic)
if(NOT magic EQUAL 0x5446534D)  # "MSFT"
  message(FATAL_ERROR "unname_retval_params: ${TLB} is not an MSFT type library")
endif()
read_le(0x14 4 varflags)
read_le(0x20 4 typeinfo_count)
# After the 0x54-byte header: the help DLL's name offset (when flagged), the typeinfo offsets,
# then the segment directory whose first entry is the typeinfo table.
set(directory 0x54)
math(EXPR help_dll "${varflags} & 0x100")
if(help_dll)
  math(EXPR directory "${directory} + 4")
endif()
math(EXPR directory "${directory} + ${typeinfo_count} * 4")
read_le(${directory} 4 typeinfo_table)

set(INVOKE_FUNC 1)
set(PARAMFLAG_FRETVAL 8)
set(patches "")
math(EXPR last_typeinfo "${typeinfo_count} - 1")
foreach(t RANGE ${last_typeinfo})
  math(EXPR base "${typeinfo_table} + ${t} * 0x64")
  read_le(${base}+4 4 members)        # absolute offset of the member records
  read_le(${base}+0x18 4 elements)    # cFuncs in the low word, cVars in the high word
  math(EXPR func_count "${elements} & 0xFFFF")
  if(func_count EQUAL 0)
    continue()
  endif()
  # The records follow a length word; each starts with its own size in its low 16 bits and ends
  # with one 12-byte parameter record (type, name offset, flags) per parameter.
  math(EXPR record "${members} + 4")
  math(EXPR last_func "${func_count} - 1")
  foreach(f RANGE ${last_func})
    read_le(${record} 2 record_size)
    read_le(${record}+16 4 fkccic)
    read_le(${record}+20 2 param_count)
    math(EXPR invoke_kind "(${fkccic} >> 3) & 0xF")
    if(invoke_kind EQUAL INVOKE_FUNC AND param_count GREATER 0)
      math(EXPR last_param "${param_count} - 1")
      foreach(p RANGE ${last_param})
        math(EXPR param "${record} + ${record_size} - (${param_count} - ${p}) * 12")
        read_le(${param}+4 4 name_offset)
        read_le(${param}+8 4 flags)
        math(EXPR is_retval "${flags} & ${PARAMFLAG_FRETVAL}")
        if(is_retval AND NOT name_offset EQUAL 0xFFFFFFFF)
          math(EXPR name_field "${param} + 4")
          list(APPEND patches ${name_field})
        endif()
      endforeach()
    endif()
    math(EXPR record "${record} + ${record_size}")
  endforeach()
endforeach()

if(patches)
  # CMake strings cannot hold the library's zero bytes, so the four 0xFF bytes are written in
  # place with dd.
  string(ASCII 255 255 255 255 minus_one)
  set(minus_one_file "${TLB}.minus-one")
  file(WRITE "${minus_one_file}" "${minus_one}")
  foreach(offset ${patches})
    execute_process(
      COMMAND dd if=${minus_one_file} of=${TLB} bs=1 count=4 seek=${offset} conv=notrunc
              status=none
      RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "unname_retval_params: cannot write ${TLB} at ${offset}")
    endif()
  endforeach()
  file(REMOVE "${minus_one_file}")
endif()
