// The build tree's bundle as a lilv host reads it: the plug-in, its presets
// as the port values a host applies, and its port groups' labels.
#pragma once

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/lv2/lv2_test_support.h"

namespace lv2test {

class LilvBundle {
public:
    LilvBundle() : world_(lilv_world_new()) {
        map_.handle = this;
        map_.map = [](LV2_URID_Map_Handle self, const char* uri) {
            return static_cast<LilvBundle*>(self)->urid(uri);
        };
        lilv_world_load_specifications(world_);
        const std::string path = std::string(kBundleParent) + "/quorvane.lv2/";
        LilvNode* bundle = lilv_new_file_uri(world_, nullptr, path.c_str());
        lilv_world_load_bundle(world_, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(world_, qvlv2::kPluginUri);
        plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
        lilv_node_free(uri);
    }
    ~LilvBundle() { lilv_world_free(world_); }
    LilvBundle(const LilvBundle&) = delete;
    LilvBundle& operator=(const LilvBundle&) = delete;

    const LilvPlugin* plugin() const { return plugin_; }

    std::vector<std::string> presetUris() {
        std::vector<std::string> uris;
        LilvNode* presetClass = lilv_new_uri(world_, "http://lv2plug.in/ns/ext/presets#Preset");
        LilvNodes* presets = lilv_plugin_get_related(plugin_, presetClass);
        LILV_FOREACH(nodes, i, presets) uris.push_back(lilv_node_as_uri(lilv_nodes_get(presets, i)));
        lilv_nodes_free(presets);
        lilv_node_free(presetClass);
        return uris;
    }

    // The port values a host applies for the preset, by symbol; its label.
    std::map<std::string, float> presetValues(const std::string& presetUri, std::string* label) {
        std::map<std::string, float> values;
        LilvNode* preset = lilv_new_uri(world_, presetUri.c_str());
        lilv_world_load_resource(world_, preset);
        LilvState* state = lilv_state_new_from_world(world_, &map_, preset);
        lilv_node_free(preset);
        if (state == nullptr) return values;
        if (label != nullptr) *label = lilv_state_get_label(state) ? lilv_state_get_label(state) : "";
        struct Sink {
            LilvBundle* self;
            std::map<std::string, float>* values;
        } sink{this, &values};
        lilv_state_emit_port_values(
            state,
            [](const char* symbol, void* data, const void* value, uint32_t size, uint32_t type) {
                Sink& s = *static_cast<Sink*>(data);
                float v = NAN;
                if (type == s.self->urid(LV2_ATOM__Float) && size == sizeof(float)) std::memcpy(&v, value, size);
                if (type == s.self->urid(LV2_ATOM__Double) && size == sizeof(double))
                    v = static_cast<float>(*static_cast<const double*>(value));
                if (type == s.self->urid(LV2_ATOM__Int) && size == sizeof(int32_t))
                    v = static_cast<float>(*static_cast<const int32_t*>(value));
                (*s.values)[symbol] = v;
            },
            &sink);
        lilv_state_free(state);
        return values;
    }

    // The port with this symbol, or null.
    const LilvPort* portBySymbol(const std::string& symbol) {
        LilvNode* name = lilv_new_string(world_, symbol.c_str());
        const LilvPort* port = lilv_plugin_get_port_by_symbol(plugin_, name);
        lilv_node_free(name);
        return port;
    }

    // The label of the group the port with this symbol belongs to; empty
    // when it has none.
    std::string groupLabel(const std::string& symbol) {
        const LilvPort* port = portBySymbol(symbol);
        if (port == nullptr) return "";
        LilvNode* groupProperty = lilv_new_uri(world_, "http://lv2plug.in/ns/ext/port-groups#group");
        LilvNode* labelProperty = lilv_new_uri(world_, "http://www.w3.org/2000/01/rdf-schema#label");
        std::string text;
        LilvNodes* groups = lilv_port_get_value(plugin_, port, groupProperty);
        if (groups != nullptr && lilv_nodes_size(groups) == 1) {
            LilvNode* label = lilv_world_get(world_, lilv_nodes_get_first(groups), labelProperty, nullptr);
            if (label != nullptr) text = lilv_node_as_string(label);
            lilv_node_free(label);
        }
        lilv_nodes_free(groups);
        lilv_node_free(labelProperty);
        lilv_node_free(groupProperty);
        return text;
    }

    // The symbol of the unit the port with this symbol is given in (the
    // unit's URI when the symbol is not in the bundle, as for LV2's own
    // units), and whether it is logarithmic; empty when it has no unit.
    std::string unitSymbol(const std::string& symbol, bool* logarithmic) {
        const LilvPort* port = portBySymbol(symbol);
        if (port == nullptr) return "";
        LilvNode* unitProperty = lilv_new_uri(world_, "http://lv2plug.in/ns/extensions/units#unit");
        LilvNode* symbolProperty = lilv_new_uri(world_, "http://lv2plug.in/ns/extensions/units#symbol");
        LilvNode* logProperty = lilv_new_uri(world_, "http://lv2plug.in/ns/ext/port-props#logarithmic");
        *logarithmic = lilv_port_has_property(plugin_, port, logProperty);
        std::string text;
        LilvNodes* units = lilv_port_get_value(plugin_, port, unitProperty);
        if (units != nullptr && lilv_nodes_size(units) == 1) {
            LilvNode* unitSymbol = lilv_world_get(world_, lilv_nodes_get_first(units), symbolProperty, nullptr);
            text = unitSymbol != nullptr ? lilv_node_as_string(unitSymbol)
                                         : lilv_node_as_uri(lilv_nodes_get_first(units));
            lilv_node_free(unitSymbol);
        }
        lilv_nodes_free(units);
        lilv_node_free(logProperty);
        lilv_node_free(symbolProperty);
        lilv_node_free(unitProperty);
        return text;
    }

private:
    LV2_URID urid(const char* uri) {
        for (size_t i = 0; i < uris_.size(); ++i)
            if (uris_[i] == uri) return static_cast<LV2_URID>(i + 1);
        uris_.push_back(uri);
        return static_cast<LV2_URID>(uris_.size());
    }

    LilvWorld* world_;
    const LilvPlugin* plugin_ = nullptr;
    LV2_URID_Map map_;
    std::vector<std::string> uris_;
};

}  // namespace lv2test
