# Authenticode signing of our own outside components with a test certificate
# authority made in the build tree (never a real key: the CA exists only here
# and only the test Wine prefix trusts it).
#
#   nq_sign_target(<target>)
#       Signs the target's output file in place after every link (the file at
#       $<TARGET_FILE:target> is the signed one).
#   nq_signing_issue_leaf(<name> <common name> [SELF_SIGNED] [START <YYYYMMDDhhmmssZ> END <...>])
#       Makes ${NQ_SIGN_DIR}/<name>.key and <name>.chain.pem for signing with
#       another identity (tests: an impostor, an expired leaf).
#   nq_sign_file_command(<out var> <input> <output> <identity name>)
#       The command line that signs <input> into <output> with that identity.
#
# The x86_64 build also writes wine/nq_test_root.reg, which scripts/wine_env.sh
# imports into the test prefix so that only the test prefix trusts the root.

find_program(NQ_OPENSSL openssl REQUIRED)
find_program(NQ_OSSLSIGNCODE osslsigncode REQUIRED)

set(NQ_SIGN_DIR ${CMAKE_BINARY_DIR}/signing)
# One of the accepted publisher names (telemetry/product_tables.cpp), in another
# letter case: the check ignores case.
set(NQ_SIGN_PUBLISHER "NEVAQUAR INTERACTIVE LTD.")
set(NQ_SIGN_ROOT_NAME "Nevaquar Test Code Signing Root")

function(_nq_openssl)
  execute_process(COMMAND ${NQ_OPENSSL} ${ARGN}
    WORKING_DIRECTORY ${NQ_SIGN_DIR}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "openssl ${ARGN} failed:\n${out}${err}")
  endif()
endfunction()

function(_nq_signing_config)
  set(cnf ${NQ_SIGN_DIR}/ca.cnf)
  if(EXISTS ${cnf})
    return()
  endif()
  file(MAKE_DIRECTORY ${NQ_SIGN_DIR}/ca/newcerts)
  file(WRITE ${NQ_SIGN_DIR}/ca/index.txt "")
  file(WRITE ${NQ_SIGN_DIR}/ca/serial "1000\n")
  file(WRITE ${cnf} "\
[ ca ]
default_ca = nq_ca
[ nq_ca ]
dir = ${NQ_SIGN_DIR}/ca
database = \$dir/index.txt
new_certs_dir = \$dir/newcerts
serial = \$dir/serial
default_md = sha256
policy = nq_policy
unique_subject = no
copy_extensions = none
email_in_dn = no
preserve = yes
[ nq_policy ]
commonName = supplied
[ req ]
distinguished_name = req_dn
string_mask = utf8only
utf8 = yes
[ req_dn ]
[ root_ext ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ leaf_ext ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
")
endfunction()

# The root: valid from 2019 so that leaves with past dates still nest in it.
function(_nq_signing_root)
  if(EXISTS ${NQ_SIGN_DIR}/root.pem)
    return()
  endif()
  _nq_openssl(genrsa -out root.key 2048)
  _nq_openssl(req -new -config ca.cnf -key root.key -subj "/CN=${NQ_SIGN_ROOT_NAME}" -out root.csr)
  _nq_openssl(ca -batch -config ca.cnf -selfsign -keyfile root.key -in root.csr -out root.pem
    -extensions root_ext -startdate 20190101000000Z -enddate 20390101000000Z -notext)
  _nq_openssl(x509 -in root.pem -outform DER -out root.der)
endfunction()

function(nq_signing_issue_leaf name common_name)
  cmake_parse_arguments(arg "SELF_SIGNED" "START;END" "" ${ARGN})
  if(EXISTS ${NQ_SIGN_DIR}/${name}.chain.pem)
    return()
  endif()
  if(NOT arg_START)
    set(arg_START 20240101000000Z)
  endif()
  if(NOT arg_END)
    set(arg_END 20390101000000Z)
  endif()
  _nq_openssl(genrsa -out ${name}.key 2048)
  _nq_openssl(req -new -config ca.cnf -utf8 -key ${name}.key -subj "/CN=${common_name}" -out ${name}.csr)
  if(arg_SELF_SIGNED)
    _nq_openssl(ca -batch -config ca.cnf -utf8 -selfsign -keyfile ${name}.key -in ${name}.csr
      -out ${name}.pem -extensions leaf_ext -startdate ${arg_START} -enddate ${arg_END} -notext)
    file(READ ${NQ_SIGN_DIR}/${name}.pem leaf)
    file(WRITE ${NQ_SIGN_DIR}/${name}.chain.pem "${leaf}")
  else()
    _nq_openssl(ca -batch -config ca.cnf -utf8 -cert root.pem -keyfile root.key -in ${name}.csr
      -out ${name}.pem -extensions leaf_ext -startdate ${arg_START} -enddate ${arg_END} -notext)
    file(READ ${NQ_SIGN_DIR}/${name}.pem leaf)
    file(READ ${NQ_SIGN_DIR}/root.pem root)
    file(WRITE ${NQ_SIGN_DIR}/${name}.chain.pem "${leaf}${root}")
  endif()
endfunction()

# osslsigncode refuses to overwrite its output, so the output is removed first.
function(nq_sign_file_command out_var input output identity)
  set(${out_var}
    ${CMAKE_COMMAND} -E rm -f ${output}
    COMMAND ${NQ_OSSLSIGNCODE} sign -certs ${NQ_SIGN_DIR}/${identity}.chain.pem
            -key ${NQ_SIGN_DIR}/${identity}.key -h sha256 -in ${input} -out ${output}
    PARENT_SCOPE)
endfunction()

function(nq_sign_target target)
  set(file $<TARGET_FILE:${target}>)
  nq_sign_file_command(sign ${file} ${file}.signing publisher)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${sign}
    COMMAND ${CMAKE_COMMAND} -E rename ${file}.signing ${file}
    VERBATIM)
endfunction()

# The root trust for the test prefix: a system "Root" store entry as regedit
# writes it: property 0x20 (the encoded certificate), reserved 1, the DER
# length, then the DER bytes; the key is the SHA-1 thumbprint in upper case.
function(_nq_signing_root_reg)
  execute_process(COMMAND ${NQ_OPENSSL} x509 -in ${NQ_SIGN_DIR}/root.pem -noout -fingerprint -sha1
    OUTPUT_VARIABLE fp OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE "^.*=" "" fp "${fp}")
  string(REPLACE ":" "" fp "${fp}")
  string(TOUPPER "${fp}" fp)
  file(READ ${NQ_SIGN_DIR}/root.der der HEX)
  string(LENGTH "${der}" hexlen)
  math(EXPR len "${hexlen} / 2")
  math(EXPR b0 "${len} & 255")
  math(EXPR b1 "(${len} >> 8) & 255")
  math(EXPR b2 "(${len} >> 16) & 255")
  set(lenhex "")
  foreach(b ${b0} ${b1} ${b2} 0)
    math(EXPR h "${b}" OUTPUT_FORMAT HEXADECIMAL)
    string(REPLACE "0x" "" h "${h}")
    string(LENGTH "${h}" hl)
    if(hl EQUAL 1)
      set(h "0${h}")
    endif()
    string(APPEND lenhex "${h},")
  endforeach()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\1," bytes "${der}")
  string(REGEX REPLACE ",$" "" bytes "${bytes}")
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/wine)
  file(WRITE ${CMAKE_BINARY_DIR}/wine/nq_test_root.reg
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\${fp}]\n"
    "\"Blob\"=hex:20,00,00,00,01,00,00,00,${lenhex}${bytes}\n")
  set(NQ_SIGN_ROOT_THUMBPRINT ${fp} PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY ${NQ_SIGN_DIR})
_nq_signing_config()
_nq_signing_root()
nq_signing_issue_leaf(publisher "${NQ_SIGN_PUBLISHER}")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  _nq_signing_root_reg()
endif()
