#include "com/memory_registry.h"

namespace {

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

bool splitRegistryPath(const std::string& path, std::vector<std::string>* names) {
    names->clear();
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (name.empty()) return false;
        names->push_back(name);
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

bool MemoryRegistry::NameLess::operator()(const std::string& a, const std::string& b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; i++) {
        unsigned char x = static_cast<unsigned char>(foldRegistryName(a[i]));
        unsigned char y = static_cast<unsigned char>(foldRegistryName(b[i]));
        if (x != y) return x < y;
    }
    return a.size() < b.size();
}

MemoryRegistry::MemoryRegistry() : root_(new Node) {}
MemoryRegistry::~MemoryRegistry() = default;

void MemoryRegistry::failOn(Op op, const std::string& path, uint32_t status) {
    failures_.push_back(Failure{op, path, status});
}

bool MemoryRegistry::injected(Op op, const std::string& path, uint32_t* status) const {
    for (const Failure& f : failures_)
        if (f.op == op && sameRegistryName(f.path, path)) {
            *status = f.status;
            return true;
        }
    return false;
}

MemoryRegistry::Node* MemoryRegistry::find(const std::string& path) const {
    std::vector<std::string> names;
    if (!splitRegistryPath(path, &names)) return nullptr;
    Node* node = root_.get();
    for (const std::string& n : names) {
        auto it = node->children.find(n);
        if (it == node->children.end()) return nullptr;
        node = it->second.get();
    }
    return node;
}

uint32_t MemoryRegistry::createKey(const std::string& path) {
    calls_.push_back("create " + path);
    uint32_t st;
    if (injected(Op::CreateKey, path, &st)) return st;
    std::vector<std::string> names;
    if (!splitRegistryPath(path, &names)) return regstatus::kInvalidParameter;
    Node* node = root_.get();
    for (const std::string& n : names) {
        std::unique_ptr<Node>& child = node->children[n];
        if (!child) child.reset(new Node);
        node = child.get();
    }
    return regstatus::kOk;
}

uint32_t MemoryRegistry::setString(const std::string& path, const std::string& valueName, const std::string& text) {
    calls_.push_back("set " + path + " " + (valueName.empty() ? "@" : valueName));
    uint32_t st;
    if (injected(Op::SetString, path, &st)) return st;
    Node* node = find(path);
    if (!node) return regstatus::kNotFound;
    node->values[valueName] = text;
    return regstatus::kOk;
}

uint32_t MemoryRegistry::deleteTree(const std::string& path) {
    calls_.push_back("delete " + path);
    uint32_t st;
    if (injected(Op::DeleteTree, path, &st)) return st;
    std::vector<std::string> names;
    if (!splitRegistryPath(path, &names)) return regstatus::kInvalidParameter;
    std::string last = names.back();
    names.pop_back();
    Node* parent = root_.get();
    for (const std::string& n : names) {
        auto it = parent->children.find(n);
        if (it == parent->children.end()) return regstatus::kNotFound;
        parent = it->second.get();
    }
    return parent->children.erase(last) ? regstatus::kOk : regstatus::kNotFound;
}

bool MemoryRegistry::keyExists(const std::string& path) { return find(path) != nullptr; }

bool MemoryRegistry::readString(const std::string& path, const std::string& valueName, std::string* text) const {
    Node* node = find(path);
    if (!node) return false;
    auto it = node->values.find(valueName);
    if (it == node->values.end()) return false;
    *text = it->second;
    return true;
}

void MemoryRegistry::dumpNode(const Node& node, const std::string& path, std::string* out) {
    if (!path.empty()) {
        *out += "[" + path + "]\n";
        for (const auto& v : node.values)
            *out += (v.first.empty() ? std::string("@") : quoted(v.first)) + "=" + quoted(v.second) + "\n";
    }
    for (const auto& c : node.children) dumpNode(*c.second, path.empty() ? c.first : path + "\\" + c.first, out);
}

std::string MemoryRegistry::dump() const {
    std::string out;
    dumpNode(*root_, std::string(), &out);
    return out;
}
