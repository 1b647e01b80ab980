# cmake -DINSTALLER=FILE -DOPENSSL=PROGRAM -DKEY=PEM -P make-release-statements.cmake
# Writes release statements for the stand-in installer FILE beside it, each
# signed with KEY as the publisher signs one (FILE.<name>.release and its
# .sig): the true one under sequence 5 (FILE.release), and signed ones that
# lie about its length or its hash.
file(SIZE "${INSTALLER}" length)
file(SHA256 "${INSTALLER}" sha256)
math(EXPR longer "${length} + 1")
string(REPEAT "0" 64 zeros)
function(statement path length sha256 sequence)
  file(WRITE "${path}" "tavrin-release-statement 1\nproduct tavrin-middleware\nversion 2.0\n"
                       "length ${length}\nsha256 ${sha256}\nsequence ${sequence}\n")
  execute_process(COMMAND "${OPENSSL}" dgst -sha256 -sign "${KEY}" -out "${path}.sig" "${path}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "openssl could not sign ${path}")
  endif()
endfunction()
statement("${INSTALLER}.release" ${length} ${sha256} 5)
statement("${INSTALLER}.wrong-length.release" ${longer} ${sha256} 5)
statement("${INSTALLER}.wrong-hash.release" ${length} ${zeros} 5)
