#include "replies_atspi.h"

#include <gio/gio.h>

#include "bus_glib.h"
#include "names_atspi.h"

#include <string_view>

std::vector<AtspiObject> objectsIn(GVariant* reply, std::size_t limit) {
    std::vector<AtspiObject> objects;
    if (!reply) return objects;
    GVariantIter* iter = nullptr;
    g_variant_get(reply, "(a(so))", &iter);
    const gchar* name = nullptr;
    const gchar* path = nullptr;
    while (objects.size() < limit && g_variant_iter_next(iter, "(&s&o)", &name, &path)) {
        if (g_dbus_is_name(name)) objects.push_back({name, path});
    }
    g_variant_iter_free(iter);
    return objects;
}

std::uint64_t statesOf(GVariant* words) {
    GVariantIter iter;
    g_variant_iter_init(&iter, words);
    std::uint64_t states = 0;
    guint32 word = 0;
    for (int shift = 0; shift < 64 && g_variant_iter_next(&iter, "u", &word); shift += 32)
        states |= std::uint64_t{word} << shift;
    return states;
}

std::uint64_t statesIn(GVariant* reply) {
    VariantPtr words(g_variant_get_child_value(reply, 0));
    return statesOf(words.get());
}

bool namesText(GVariant* names) {
    GVariantIter iter;
    g_variant_iter_init(&iter, names);
    const gchar* name = nullptr;
    bool found = false;
    while (g_variant_iter_next(&iter, "&s", &name))
        found = found || std::string_view(name) == atspi::kTextInterface;
    return found;
}

bool hasTextInterface(GVariant* reply) {
    if (!reply) return false;
    VariantPtr names(g_variant_get_child_value(reply, 0));
    return namesText(names.get());
}

std::optional<AtspiObject> objectIn(GVariant* reply) {
    if (!reply) return std::nullopt;
    const gchar* name = nullptr;
    const gchar* path = nullptr;
    g_variant_get(reply, "((&s&o))", &name, &path);
    if (!g_dbus_is_name(name) || std::string_view(path) == atspi::kNullPath) return std::nullopt;
    return AtspiObject{name, path};
}

std::optional<CachedObject> cachedObjectIn(GVariant* item) {
    gsize count = g_variant_n_children(item);
    if (count < 4) return std::nullopt;
    CachedObject object;
    for (gsize i = 0; i < count; ++i) {
        VariantPtr member(g_variant_get_child_value(item, i));
        const gchar* type = g_variant_get_type_string(member.get());
        const gchar* path = nullptr;
        if (i == 0 && std::string_view(type) == "(so)") {
            g_variant_get(member.get(), "(&s&o)", nullptr, &path);
            object.path = path;
        } else if (i == 2 && std::string_view(type) == "(so)") {
            g_variant_get(member.get(), "(&s&o)", nullptr, &path);
            object.parent = path;
        } else if (std::string_view(type) == "as") {
            object.hasText = object.hasText || namesText(member.get());
        } else if (i == count - 1 && std::string_view(type) == "au") {
            object.states = statesOf(member.get());
        }
    }
    if (object.path.empty()) return std::nullopt;
    return object;
}
