// The one source of a layer's link check: the layer's own objects come from its archive.
namespace kirt::linkcheck {
int layerLinked = 1;
}
