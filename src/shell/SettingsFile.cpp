#include "shell/SettingsFile.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include <plist/plist++.h>

namespace orvo {
namespace {

// Debian 12's libplist asserts, and so aborts the program, when a key or string it is asked
// for holds a NUL byte, which a binary file (or an XML character reference) can give it. Its
// XML writer copies such bytes as they stand: a tree whose XML has none is safe to walk.
bool safeToWalk(plist_t root) {
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    const bool clean = xml != nullptr && std::memchr(xml, '\0', length) == nullptr;
    if (xml != nullptr) {
        plist_to_xml_free(xml);
    }
    return clean;
}

// A binary file can use one string object as two keys: a write would then change one entry
// and the other would win at the next read. Each key is kept once, the last one, as readers
// of an XML file with a key twice take it. Takes root, returns the dictionary to use.
plist_t eachKeyOnce(plist_t root) {
    plist_t unique = plist_new_dict();
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root, &iterator);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root, iterator, &key, &value);
        if (value == nullptr) {
            std::free(key);
            break;
        }
        plist_dict_set_item(unique, key, plist_copy(value));
        std::free(key);
    }
    std::free(iterator);
    plist_free(root);
    return unique;
}

} // namespace

std::optional<SettingsFile> SettingsFile::parse(const QByteArray& bytes) {
    if (bytes.isEmpty() || bytes.size() > largestFile) {
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.constData(), std::uint32_t(bytes.size()), &root);
    if (root == nullptr) {
        return std::nullopt;
    }
    if (plist_get_node_type(root) != PLIST_DICT || !safeToWalk(root)) {
        plist_free(root);
        return std::nullopt;
    }
    // The wrapper takes ownership of the root.
    return SettingsFile(std::make_unique<PList::Dictionary>(eachKeyOnce(root)));
}

SettingsFile::SettingsFile(std::unique_ptr<PList::Dictionary> dictionary)
    : dictionary_(std::move(dictionary)) {}

SettingsFile::SettingsFile(SettingsFile&&) noexcept = default;
SettingsFile& SettingsFile::operator=(SettingsFile&&) noexcept = default;
SettingsFile::~SettingsFile() = default;

QStringList SettingsFile::keys() const {
    QStringList keys;
    for (auto entry = dictionary_->Begin(); entry != dictionary_->End(); ++entry) {
        keys.append(QString::fromStdString(entry->first));
    }
    return keys;
}

QString SettingsFile::value(const QString& key) const {
    const auto entry = dictionary_->Find(key.toStdString());
    if (entry == dictionary_->End()) {
        return {};
    }
    const auto* string = dynamic_cast<const PList::String*>(entry->second);
    return string == nullptr ? QString() : QString::fromStdString(string->GetValue());
}

void SettingsFile::setValue(const QString& key, const QString& value) {
    dictionary_->Set(key.toStdString(), PList::String(value.toStdString()));
}

QByteArray SettingsFile::toXml() const {
    const std::string xml = dictionary_->ToXml();
    return QByteArray(xml.data(), qsizetype(xml.size()));
}

} // namespace orvo
