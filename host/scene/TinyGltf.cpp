// tinygltf's code, built into this library from the packaged header rather
// than linked as a shared object of its own: tqhost starts faster with one
// object fewer to find, map and bind (two: its image decoder too). Images
// are never decoded (the importer skips them), so the library's build leaves
// the decoder out (TINYGLTF_NO_STB_IMAGE, for every file that includes it).
#define TINYGLTF_IMPLEMENTATION
#include <tiny_gltf.h>
