# Sourced by the build scripts: sets `launcher` to the CMake arguments that put ccache, where
# installed, in front of the compilers. The paths ccache hashes are taken relative to the
# tree, so the objects of another clone or of an earlier build serve this one too.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
