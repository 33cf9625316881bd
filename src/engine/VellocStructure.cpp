#include "engine/VellocStructure.h"

#include "engine/support/VellocError.h"
#include "engine/support/VellocNumberText.h"
#include "engine/support/VellocZlib.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <unordered_set>

namespace velloc {

namespace {

// Key names of which each structure keeps one object for all dictionaries. A value is shared
// when "[" + value + "]" occurs in this text, so runs of neighbours such as "Type][Subtype"
// count too.
constexpr std::string_view SharedKeyNameList =
    "[MediaBox][Length][CropBox][Type][Subtype][Name][Pages][Page][Parent][Font][Contents]"
    "[BaseFont][PDF][Text][ImageB][ImageC][ImageI][Resources][ProcSet][ExtGState][Type1]"
    "[TrueType][WinAnsiEncoding][Filter][FlateDecode][Annot][URI][Goto][XYZ][Vlcn][Velloc]";

// Every value v for which "[" + v + "]" occurs in the list: each span from just after one '['
// to just before a later ']'.
const std::unordered_set<std::string_view>& SharedKeyValues()
{
    static const std::unordered_set<std::string_view> values = [] {
        std::unordered_set<std::string_view> spans;
        for (size_t open = 0; open < SharedKeyNameList.size(); ++open) {
            if (SharedKeyNameList[open] != '[') {
                continue;
            }
            for (size_t close = open + 1; close < SharedKeyNameList.size(); ++close) {
                if (SharedKeyNameList[close] == ']') {
                    spans.insert(SharedKeyNameList.substr(open + 1, close - open - 1));
                }
            }
        }
        return spans;
    }();
    return values;
}

bool IsSharedKeyValue(std::string_view value)
{
    return value.size() < SharedKeyNameList.size() && SharedKeyValues().contains(value);
}

constexpr char UpperHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& out, unsigned char byte)
{
    out += UpperHexDigits[byte >> 4];
    out += UpperHexDigits[byte & 0x0F];
}

// Bytes a name writes as "#XX": control bytes and space, DEL and above, and the delimiters
// that would end or confuse the name.
constexpr std::array<bool, 256> NameEscapes = [] {
    std::array<bool, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        table[byte] = byte <= 32 || byte >= 127;
    }
    for (const char c : std::string_view("/()#%[]{}<>")) {
        table[static_cast<unsigned char>(c)] = true;
    }
    return table;
}();

void AppendInteger(std::string& out, int64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// Grows a vector geometrically, so that repeated small reservations stay amortised O(1).
template <class T> void ReserveAhead(std::vector<T>& items, size_t count)
{
    if (items.capacity() - items.size() < count) {
        items.reserve(std::max(items.size() + count, items.capacity() * 2));
    }
}

[[noreturn]] void ThrowNesting()
{
    throw EVellocError(PDFObjectNestingError, "object nests too deeply or contains itself");
}

} // namespace

// Marks a container as being visited for as long as it lives; refuses to enter a container
// that is already being visited (a cycle) or that lies too deep.
class TPDFNestingGuard
{
  public:
    explicit TPDFNestingGuard(const TPDFObject& obj) : m_Object(obj), m_Structure(obj.Owner())
    {
        if (obj.m_Visiting || m_Structure.m_NestingDepth >= MaxWriteDepth) {
            return;
        }
        obj.m_Visiting = true;
        ++m_Structure.m_NestingDepth;
        m_Entered = true;
    }
    ~TPDFNestingGuard()
    {
        if (m_Entered) {
            m_Object.m_Visiting = false;
            --m_Structure.m_NestingDepth;
        }
    }
    TPDFNestingGuard(const TPDFNestingGuard&) = delete;
    TPDFNestingGuard& operator=(const TPDFNestingGuard&) = delete;

    bool Entered() const { return m_Entered; }

  private:
    const TPDFObject& m_Object;
    TPDFStructure& m_Structure;
    bool m_Entered = false;
};

// ---- TPDFObject ----

void TPDFObject::SetIndirectIdentity(int32_t objectNumber, int32_t generation)
{
    m_IsIndirect = true;
    m_ObjectNumber = objectNumber;
    m_Generation = generation;
}

std::string TPDFObject::Text() const
{
    std::string text;
    WriteText(text);
    return text;
}

void TPDFObject::Release()
{
    // A container would first ask the same of its children, but while it is registered and
    // holds them, ReleaseObject refuses every child; skipping that walk gives the same result
    // and cannot loop on a container that holds itself.
    Owner().ReleaseObject(this);
}

void TPDFObject::Renumber(int32_t /*delta*/) {}

bool TPDFObject::RefersTo(const TPDFObject* /*obj*/) const
{
    return false;
}

// ---- scalars ----

void TPDFNull::WriteText(std::string& out) const
{
    out += "null";
}

void TPDFBoolean::WriteText(std::string& out) const
{
    out += m_Value ? "true" : "false";
}

int32_t TPDFNumeric::AsInteger() const
{
    return ClampToInt32(RoundHalfEven(m_Value));
}

void TPDFNumeric::WriteText(std::string& out) const
{
    AppendNumber(out, m_Value, Owner().Precision());
}

void AppendNameText(std::string& out, std::string_view value)
{
    out += '/';
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (NameEscapes[byte]) {
            out += '#';
            AppendHexByte(out, byte);
        } else {
            out += c;
        }
    }
}

void TPDFName::WriteText(std::string& out) const
{
    AppendNameText(out, m_Value);
}

void TPDFString::WriteText(std::string& out) const
{
    if (m_HexForm == HexadecimalForm) {
        out += '<';
        for (const char c : m_Value) {
            AppendHexByte(out, static_cast<unsigned char>(c));
        }
        out += '>';
        return;
    }
    if (m_HexForm != LiteralForm) {
        return;
    }
    out += '(';
    for (const char c : m_Value) {
        switch (c) {
        case '\b':
            out += "\\b";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\r':
            out += "\\r";
            break;
        case '(':
        case ')':
        case '\\':
            out += '\\';
            out += c;
            break;
        default:
            out += c;
        }
    }
    out += ')';
}

TPDFObject* TPDFIndRef::Resolve()
{
    auto& hook = Owner().OnResolveReference;
    return hook ? hook(this, m_ObjectNumber, m_Generation) : nullptr;
}

void TPDFIndRef::WriteText(std::string& out) const
{
    AppendInteger(out, m_ObjectNumber);
    out += ' ';
    AppendInteger(out, m_Generation);
    out += " R";
}

void TPDFIndRef::Renumber(int32_t delta)
{
    m_ObjectNumber += delta;
}

// ---- TPDFArray ----

TPDFObject* TPDFArray::ItemAt(int32_t index) const
{
    return index >= 0 && index < Count() ? m_Items[static_cast<size_t>(index)] : nullptr;
}

void TPDFArray::Add(TPDFObject* obj)
{
    m_Items.push_back(obj);
}

void TPDFArray::Insert(int32_t index, TPDFObject* obj)
{
    if (index >= 0 && index <= Count()) {
        m_Items.insert(m_Items.begin() + index, obj);
    }
}

void TPDFArray::Replace(int32_t index, TPDFObject* obj)
{
    if (index >= 0 && index < Count()) {
        m_Items[static_cast<size_t>(index)] = obj;
    }
}

void TPDFArray::Reserve(int32_t count)
{
    if (count > 0) {
        ReserveAhead(m_Items, static_cast<size_t>(count));
    }
}

void TPDFArray::WriteText(std::string& out) const
{
    // A line break goes in once a line of the array passes this many characters.
    constexpr size_t LineWidth = 80;
    const TPDFNestingGuard guard(*this);
    if (!guard.Entered()) {
        ThrowNesting();
    }
    size_t lineStart = out.size();
    out += "[ ";
    for (const TPDFObject* item : m_Items) {
        if (item) {
            item->WriteText(out);
        }
        if (out.back() != '\n') {
            out += ' ';
        }
        if (out.size() - lineStart > LineWidth) {
            out += '\n';
            lineStart = out.size();
        }
    }
    out += ']';
}

void TPDFArray::Renumber(int32_t delta)
{
    const TPDFNestingGuard guard(*this);
    if (!guard.Entered()) {
        return;
    }
    for (TPDFObject* item : m_Items) {
        if (item) {
            item->Renumber(delta);
        }
    }
}

bool TPDFArray::RefersTo(const TPDFObject* obj) const
{
    return std::find(m_Items.begin(), m_Items.end(), obj) != m_Items.end();
}

// ---- TPDFDictionary ----

void TPDFDictionary::Put(std::string_view key, TPDFObject* value)
{
    if (value != this) {
        PutEntry(Owner().KeyName(key), value);
    }
}

void TPDFDictionary::PutEntry(TPDFName* key, TPDFObject* value)
{
    if (!key || value == this) {
        return;
    }
    const int32_t index = IndexOf(key->Value());
    if (index >= 0) {
        m_Entries[static_cast<size_t>(index)] = {key, value};
    } else {
        m_Entries.push_back({key, value});
    }
}

int32_t TPDFDictionary::IndexOf(std::string_view key) const
{
    for (size_t i = 0; i < m_Entries.size(); ++i) {
        if (m_Entries[i].Key->Value() == key) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

TPDFObject* TPDFDictionary::Get(std::string_view key, bool resolve) const
{
    const int32_t index = IndexOf(key);
    if (index < 0) {
        return nullptr;
    }
    TPDFObject* value = m_Entries[static_cast<size_t>(index)].Value;
    if (resolve) {
        if (auto* reference = ObjectAs<TPDFIndRef>(value)) {
            return reference->Resolve();
        }
    }
    return value;
}

int32_t TPDFDictionary::GetInteger(std::string_view key, int32_t defaultValue) const
{
    const auto* number = ObjectAs<TPDFNumeric>(Get(key, true));
    return number ? number->AsInteger() : defaultValue;
}

std::string TPDFDictionary::TypeName() const
{
    const auto* name = ObjectAs<TPDFName>(Get("Type"));
    return name ? name->Value() : std::string();
}

void TPDFDictionary::Remove(std::string_view key)
{
    const int32_t index = IndexOf(key);
    if (index >= 0) {
        m_Entries.erase(m_Entries.begin() + index);
    }
}

const TPDFDictionaryEntry* TPDFDictionary::EntryAt(int32_t index) const
{
    return index >= 0 && index < Count() ? &m_Entries[static_cast<size_t>(index)] : nullptr;
}

void TPDFDictionary::CopyFrom(const TPDFDictionary* other)
{
    if (!other || other == this) {
        return;
    }
    if (&other->Owner() == &Owner()) {
        m_Entries = other->m_Entries;
        return;
    }
    if (const auto* parsed = ObjectAs<TPDFDictionary>(Owner().Parse(other->Text()))) {
        m_Entries = parsed->m_Entries;
    }
}

void TPDFDictionary::WriteText(std::string& out) const
{
    const TPDFNestingGuard guard(*this);
    if (!guard.Entered()) {
        ThrowNesting();
    }
    out += "<<\n";
    for (const TPDFDictionaryEntry& entry : m_Entries) {
        const size_t entryStart = out.size();
        try {
            if (entry.Key) {
                entry.Key->WriteText(out);
            }
            out += ' ';
            if (entry.Value) {
                entry.Value->WriteText(out);
            }
        } catch (const std::exception&) {
            // One entry that cannot be written must not cost the whole dictionary.
            out.resize(entryStart);
            out += "% bug \n";
            continue;
        }
        if (out.back() != '\n') {
            out += '\n';
        }
    }
    out += ">>\n";
}

void TPDFDictionary::Renumber(int32_t delta)
{
    const TPDFNestingGuard guard(*this);
    if (!guard.Entered()) {
        return;
    }
    for (const TPDFDictionaryEntry& entry : m_Entries) {
        if (entry.Value) {
            entry.Value->Renumber(delta);
        }
    }
}

bool TPDFDictionary::RefersTo(const TPDFObject* obj) const
{
    return std::any_of(m_Entries.begin(), m_Entries.end(), [obj](const TPDFDictionaryEntry& e) {
        return e.Key == obj || e.Value == obj;
    });
}

// ---- TPDFStream ----

void TPDFStream::SetRawData(std::string data)
{
    m_Data = std::move(data);
    const auto length = static_cast<double>(m_Data.size());
    if (auto* number = ObjectAs<TPDFNumeric>(m_Dictionary->Get("Length"))) {
        number->SetValue(length);
    } else {
        m_Dictionary->Put("Length", Owner().NewNumber(length));
    }
}

void TPDFStream::SetData(std::string_view data, bool compress)
{
    SetRawData(compress ? ZlibDeflate(data) : std::string(data));
    m_Dictionary->Remove("Filter");
    // Parameters of the filter that is gone would garble the new data when read.
    m_Dictionary->Remove("DecodeParms");
    m_Dictionary->Remove("DP");
    if (compress) {
        m_Dictionary->Put("Filter", Owner().NewName("FlateDecode"));
    }
}

void TPDFStream::WriteText(std::string& out) const
{
    m_Dictionary->WriteText(out);
    out += "stream\n";
    out += m_Data;
    out += "\nendstream";
}

void TPDFStream::Renumber(int32_t delta)
{
    m_Dictionary->Renumber(delta);
}

bool TPDFStream::RefersTo(const TPDFObject* obj) const
{
    // The stream holds its dictionary too: releasing it would leave the stream dangling.
    return obj == m_Dictionary || m_Dictionary->RefersTo(obj);
}

// ---- TPDFStructure ----

TPDFStructure::TPDFStructure()
{
    Clear();
}

TPDFStructure::~TPDFStructure()
{
    Clear();
}

TPDFIndirectIdentity TPDFStructure::RegisterIndirect(TPDFObject* sender, TPDFObject* obj)
{
    return OnRegisterIndirect ? OnRegisterIndirect(sender, obj) : TPDFIndirectIdentity{};
}

template <class T> T* TPDFStructure::adopt(std::unique_ptr<T> obj)
{
    T* raw = obj.get();
    m_Objects.push_back(std::move(obj));
    return raw;
}

TPDFNull* TPDFStructure::NewNull()
{
    return adopt(std::make_unique<TPDFNull>(TPDFObject::TKey(), *this));
}

TPDFBoolean* TPDFStructure::NewBoolean(bool value)
{
    return adopt(std::make_unique<TPDFBoolean>(TPDFObject::TKey(), *this, value));
}

TPDFNumeric* TPDFStructure::NewNumber(double value)
{
    return adopt(std::make_unique<TPDFNumeric>(TPDFObject::TKey(), *this, value));
}

TPDFName* TPDFStructure::NewName(std::string value)
{
    TPDFName* name = adopt(std::make_unique<TPDFName>(TPDFObject::TKey(), *this, std::move(value)));
    indexName(name);
    return name;
}

TPDFName* TPDFStructure::KeyName(std::string_view value)
{
    TPDFName* name = nullptr;
    if (IsSharedKeyValue(value)) {
        const auto found = m_FirstSharedName.find(value);
        if (found != m_FirstSharedName.end()) {
            name = found->second;
        }
    }
    if (!name) {
        name = NewName(std::string(value));
    }
    name->m_IsKeyName = true;
    return name;
}

TPDFString* TPDFStructure::NewString(std::string bytes, uint8_t hexForm)
{
    return adopt(
        std::make_unique<TPDFString>(TPDFObject::TKey(), *this, std::move(bytes), hexForm));
}

TPDFIndRef* TPDFStructure::NewReference(int32_t objectNumber, int32_t generation)
{
    return adopt(std::make_unique<TPDFIndRef>(TPDFObject::TKey(), *this, objectNumber, generation));
}

TPDFDictionary* TPDFStructure::NewDictionary()
{
    return adopt(std::make_unique<TPDFDictionary>(TPDFObject::TKey(), *this));
}

TPDFArray* TPDFStructure::NewArray()
{
    return adopt(std::make_unique<TPDFArray>(TPDFObject::TKey(), *this));
}

TPDFArray* TPDFStructure::NewArrayOf(std::span<TPDFObject* const> items)
{
    TPDFArray* array = NewArray();
    array->Reserve(static_cast<int32_t>(items.size()));
    for (TPDFObject* item : items) {
        array->Add(item);
    }
    return array;
}

TPDFArray* TPDFStructure::NewIntegerArray(std::span<const int32_t> values)
{
    TPDFArray* array = NewArray();
    array->Reserve(static_cast<int32_t>(values.size()));
    for (const int32_t value : values) {
        array->Add(NewNumber(value));
    }
    return array;
}

TPDFArray* TPDFStructure::NewRealArray(std::span<const double> values)
{
    TPDFArray* array = NewArray();
    array->Reserve(static_cast<int32_t>(values.size()));
    for (const double value : values) {
        array->Add(NewNumber(value));
    }
    return array;
}

TPDFStream* TPDFStructure::NewStream(std::string_view data, bool compress)
{
    // The dictionary is registered first, as the stream makes it while being constructed.
    TPDFDictionary* dictionary = NewDictionary();
    TPDFStream* stream = adopt(std::make_unique<TPDFStream>(TPDFObject::TKey(), *this, dictionary));
    stream->SetData(data, compress);
    return stream;
}

void TPDFStructure::indexName(TPDFName* name)
{
    if (IsSharedKeyValue(name->Value())) {
        m_FirstSharedName.try_emplace(name->Value(), name);
    }
}

void TPDFStructure::unindexName(const TPDFName* name, size_t registryIndex)
{
    const auto found = m_FirstSharedName.find(name->Value());
    if (found == m_FirstSharedName.end() || found->second != name) {
        return;
    }
    m_FirstSharedName.erase(found);
    // The next name of the same value in creation order takes its place.
    for (size_t i = registryIndex + 1; i < m_Objects.size(); ++i) {
        auto* other = ObjectAs<TPDFName>(m_Objects[i].get());
        if (other && other->Value() == name->Value()) {
            m_FirstSharedName.emplace(other->Value(), other);
            return;
        }
    }
}

bool TPDFStructure::ReleaseObject(TPDFObject* obj)
{
    if (!obj) {
        return false;
    }
    // Objects about to be released were usually made last, so search from the end.
    auto position = std::find_if(m_Objects.rbegin(), m_Objects.rend(),
                                 [obj](const auto& owned) { return owned.get() == obj; });
    if (position == m_Objects.rend()) {
        return false;
    }
    const auto* name = obj->As<TPDFName>();
    if (name && name->IsKeyName()) {
        return false;
    }
    for (const auto& owned : m_Objects) {
        if (owned->RefersTo(obj)) {
            return false;
        }
    }
    const auto index = static_cast<size_t>(m_Objects.rend() - position - 1);
    if (name) {
        unindexName(name, index);
    }
    std::unique_ptr<TPDFObject> doomed = std::move(m_Objects[index]);
    m_Objects.erase(m_Objects.begin() + static_cast<ptrdiff_t>(index));
    return true;
}

void TPDFStructure::Reserve(int32_t count)
{
    if (count > 0) {
        ReserveAhead(m_Objects, static_cast<size_t>(count));
    }
}

void TPDFStructure::Clear()
{
    m_FirstSharedName.clear();
    // Free in creation order; object destructors never touch other objects.
    for (auto& owned : m_Objects) {
        owned.reset();
    }
    std::vector<std::unique_ptr<TPDFObject>>().swap(m_Objects);
    m_Precision = PDFNumberPrecision;
    m_NestingDepth = 0;
}

TPDFObject* TPDFStructure::ObjectAt(size_t index) const
{
    return index < m_Objects.size() ? m_Objects[index].get() : nullptr;
}

} // namespace velloc
