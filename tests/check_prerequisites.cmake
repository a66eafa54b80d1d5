# Fails the test run, naming the package, when a program or feature the README promises was left
# out of the build because a library was missing (the build itself only says so in passing).
if(QUENO_MISSING)
  string(REPLACE ";" "\n  " missing "${QUENO_MISSING}")
  message(FATAL_ERROR "not built, so not tested:\n  ${missing}\nInstall what is named (the README's quick start lists every prerequisite) and configure again.")
endif()
