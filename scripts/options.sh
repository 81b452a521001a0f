# The one set of CMake options ./run.sh and ./test.sh both configure build/
# with, so running one after the other rebuilds nothing that is already built.
# Sourced, not run.
tavlin_cmake_options=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVLIN_WERROR=ON)
