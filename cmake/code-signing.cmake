# Authenticode signatures (SHA-256) for the product, made on the build machine
# with osslsigncode after the link.
#
# tavrin_code_signing_options(): reads the cache variables CODE_SIGNING_*
# (see the top CMakeLists.txt) and checks them when the tree is configured,
# so that a certificate that cannot sign code, a key that is not the
# certificate's, or a missing tool stops the configuration with the reason
# rather than the release build. Sets TAVRIN_CODE_SIGNING (ON when asked for)
# and the signing command line in the caller's scope.
#
# tavrin_signed_exe(TARGET FROM OUTPUT CERTIFICATE KEY [PASSWORD_FILE]
#                   [COMMAND] [TIMESTAMP_URL]): the target TARGET, built
# by default, writes OUTPUT, the exe FROM signed; FROM itself stays unsigned.
# With COMMAND (a command line with {in} and {out} for the two files, as for a
# hardware token or a signing service), that command signs instead of the
# certificate and key.
#
# Run with -P, this file either signs (-DSIGN_IN= -DSIGN_OUT= -DSIGN_COMMAND=
# with {in} and {out}, [-DOSSLSIGNCODE= -DTIMESTAMP_URL=]) or checks the
# options alone (-DCHECK_ONLY=ON with the CODE_SIGNING_* variables), printing
# what configuring would say.

# The checks, for a certificate file and a key file or a signing command.
function(tavrin_check_code_signing certificate key password_file command)
  find_program(TAVRIN_OPENSSL openssl)
  if(command STREQUAL "" AND (certificate STREQUAL "" OR key STREQUAL ""))
    message(FATAL_ERROR "Code signing needs CODE_SIGNING_CERTIFICATE and CODE_SIGNING_KEY "
                        "together, or CODE_SIGNING_COMMAND")
  endif()
  if(command STREQUAL "")
    find_program(TAVRIN_OSSLSIGNCODE osslsigncode)
    if(NOT TAVRIN_OSSLSIGNCODE)
      message(FATAL_ERROR "Code signing needs osslsigncode, which is not installed "
                          "(Debian's package osslsigncode; scripts/bootstrap installs it)")
    endif()
  else()
    separate_arguments(words UNIX_COMMAND "${command}")
    list(GET words 0 tool)
    find_program(tool_path "${tool}" NO_CACHE)
    if(NOT tool_path)
      message(FATAL_ERROR "CODE_SIGNING_COMMAND: its program ${tool} is not installed "
                          "or not on the PATH")
    endif()
    if(NOT command MATCHES "{in}" OR NOT command MATCHES "{out}")
      message(FATAL_ERROR "CODE_SIGNING_COMMAND must name the unsigned exe as {in} and "
                          "the signed one as {out}: ${command}")
    endif()
  endif()
  if(NOT certificate STREQUAL "" OR NOT key STREQUAL "")
    if(NOT TAVRIN_OPENSSL)
      message(FATAL_ERROR "Code signing needs openssl to read the certificate and the key")
    endif()
  endif()

  if(NOT certificate STREQUAL "")
    if(NOT EXISTS "${certificate}")
      message(FATAL_ERROR "CODE_SIGNING_CERTIFICATE: no file ${certificate}")
    endif()
    execute_process(COMMAND ${TAVRIN_OPENSSL} x509 -in "${certificate}" -noout -ext extendedKeyUsage
      RESULT_VARIABLE failed OUTPUT_VARIABLE usage ERROR_VARIABLE said)
    if(failed)
      message(FATAL_ERROR "CODE_SIGNING_CERTIFICATE ${certificate} is not a certificate in PEM: ${said}")
    endif()
    # Windows accepts an Authenticode signature only from a certificate meant
    # for signing code (1.3.6.1.5.5.7.3.3), whatever else it may be for.
    if(NOT usage MATCHES "Code Signing")
      message(FATAL_ERROR "CODE_SIGNING_CERTIFICATE ${certificate} is not meant for signing code: "
                          "its extended key usage does not hold Code Signing")
    endif()
  endif()

  if(NOT key STREQUAL "" AND command STREQUAL "")
    if(NOT EXISTS "${key}")
      message(FATAL_ERROR "CODE_SIGNING_KEY: no file ${key}")
    endif()
    set(pass "")
    if(NOT password_file STREQUAL "")
      if(NOT EXISTS "${password_file}")
        message(FATAL_ERROR "CODE_SIGNING_PASSWORD_FILE: no file ${password_file}")
      endif()
      set(pass -passin "file:${password_file}")
    else()
      # Without a passphrase file openssl would ask on the terminal.
      set(pass -passin pass:)
    endif()
    execute_process(COMMAND ${TAVRIN_OPENSSL} pkey -in "${key}" ${pass} -pubout
      RESULT_VARIABLE failed OUTPUT_VARIABLE key_public ERROR_VARIABLE said)
    if(failed)
      message(FATAL_ERROR "CODE_SIGNING_KEY ${key} cannot be read as a private key in PEM "
                          "(a key with a passphrase needs CODE_SIGNING_PASSWORD_FILE): ${said}")
    endif()
    execute_process(COMMAND ${TAVRIN_OPENSSL} x509 -in "${certificate}" -noout -pubkey
      OUTPUT_VARIABLE certificate_public COMMAND_ERROR_IS_FATAL ANY)
    if(NOT key_public STREQUAL certificate_public)
      message(FATAL_ERROR "CODE_SIGNING_KEY ${key} is not the key of CODE_SIGNING_CERTIFICATE "
                          "${certificate}")
    endif()
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  if(CHECK_ONLY)
    foreach(name CODE_SIGNING_CERTIFICATE CODE_SIGNING_KEY CODE_SIGNING_PASSWORD_FILE CODE_SIGNING_COMMAND)
      if(NOT DEFINED ${name})
        set(${name} "")
      endif()
    endforeach()
    tavrin_check_code_signing("${CODE_SIGNING_CERTIFICATE}" "${CODE_SIGNING_KEY}"
      "${CODE_SIGNING_PASSWORD_FILE}" "${CODE_SIGNING_COMMAND}")
    message("code signing options: usable")
    return()
  endif()
  file(REMOVE "${SIGN_OUT}")
  # The command is split into words before the files are put in, so that a
  # path with spaces or quotes stays one argument, whether or not the
  # command quotes {in} and {out}.
  separate_arguments(words UNIX_COMMAND "${SIGN_COMMAND}")
  set(line "")
  foreach(word IN LISTS words)
    string(REPLACE "{in}" "${SIGN_IN}" word "${word}")
    string(REPLACE "{out}" "${SIGN_OUT}" word "${word}")
    list(APPEND line "${word}")
  endforeach()
  execute_process(COMMAND ${line} RESULT_VARIABLE failed)
  if(failed OR NOT EXISTS "${SIGN_OUT}")
    file(REMOVE "${SIGN_OUT}")
    message(FATAL_ERROR "Signing ${SIGN_IN} failed (${failed})")
  endif()
  if(TIMESTAMP_URL)
    # A command that signs but does not time-stamp: the time stamp is added
    # to its signature here.
    execute_process(COMMAND ${OSSLSIGNCODE} add -ts "${TIMESTAMP_URL}" -h sha256
      -in "${SIGN_OUT}" -out "${SIGN_OUT}.stamped" RESULT_VARIABLE failed)
    if(failed)
      file(REMOVE "${SIGN_OUT}" "${SIGN_OUT}.stamped")
      message(FATAL_ERROR "Time-stamping ${SIGN_OUT} at ${TIMESTAMP_URL} failed")
    endif()
    file(RENAME "${SIGN_OUT}.stamped" "${SIGN_OUT}")
  endif()
  # Whatever signed it, the result must carry a signature.
  set(failed 0)
  if(OSSLSIGNCODE)
    execute_process(COMMAND ${OSSLSIGNCODE} extract-signature -in "${SIGN_OUT}" -out "${SIGN_OUT}.p7"
      RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    file(REMOVE "${SIGN_OUT}.p7")
  endif()
  if(failed)
    file(REMOVE "${SIGN_OUT}")
    message(FATAL_ERROR "Signing wrote ${SIGN_OUT} without a signature")
  endif()
  return()
endif()

function(tavrin_signed_exe target from output)
  cmake_parse_arguments(ARG "" "CERTIFICATE;KEY;PASSWORD_FILE;COMMAND;TIMESTAMP_URL" "" ${ARGN})
  foreach(name CERTIFICATE KEY PASSWORD_FILE COMMAND TIMESTAMP_URL)
    if(NOT DEFINED ARG_${name})
      set(ARG_${name} "")
    endif()
  endforeach()
  foreach(name CERTIFICATE KEY PASSWORD_FILE)
    if(NOT ARG_${name} STREQUAL "")
      get_filename_component(ARG_${name} "${ARG_${name}}" ABSOLUTE)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ARG_${name}}")
    endif()
  endforeach()
  tavrin_check_code_signing("${ARG_CERTIFICATE}" "${ARG_KEY}" "${ARG_PASSWORD_FILE}" "${ARG_COMMAND}")
  # The time stamp in the sign step only for the certificate and key; a
  # command's own signature is time-stamped afterwards (see above).
  find_program(TAVRIN_OSSLSIGNCODE osslsigncode)
  set(timestamp_url "${ARG_TIMESTAMP_URL}")
  if(ARG_COMMAND STREQUAL "")
    set(command "${TAVRIN_OSSLSIGNCODE} sign -h sha256 -certs \"${ARG_CERTIFICATE}\" -key \"${ARG_KEY}\"")
    if(NOT ARG_PASSWORD_FILE STREQUAL "")
      string(APPEND command " -readpass \"${ARG_PASSWORD_FILE}\"")
    endif()
    if(NOT timestamp_url STREQUAL "")
      string(APPEND command " -ts \"${timestamp_url}\"")
      set(timestamp_url "")
    endif()
    string(APPEND command " -in {in} -out {out}")
    set(inputs "${ARG_CERTIFICATE}" "${ARG_KEY}")
  else()
    set(command "${ARG_COMMAND}")
    set(inputs "")
    if(NOT timestamp_url STREQUAL "" AND NOT TAVRIN_OSSLSIGNCODE)
      message(FATAL_ERROR "CODE_SIGNING_TIMESTAMP_URL needs osslsigncode, which is not installed "
                          "(Debian's package osslsigncode; scripts/bootstrap installs it)")
    endif()
  endif()
  get_filename_component(directory "${output}" DIRECTORY)
  add_custom_command(OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${directory}"
    COMMAND ${CMAKE_COMMAND} "-DSIGN_IN=$<TARGET_FILE:${from}>" "-DSIGN_OUT=${output}"
      "-DSIGN_COMMAND=${command}" "-DOSSLSIGNCODE=${TAVRIN_OSSLSIGNCODE}"
      "-DTIMESTAMP_URL=${timestamp_url}" -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    DEPENDS ${from} ${inputs} ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    COMMENT "Signing ${output}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()
