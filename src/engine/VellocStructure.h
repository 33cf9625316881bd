#ifndef VELLOC_STRUCTURE_H
#define VELLOC_STRUCTURE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velloc {

class TPDFStructure;
class TPDFName;
class TPDFIndRef;

enum class TPDFObjectKind : uint8_t {
    Null,
    Boolean,
    Numeric,
    Name,
    String,
    Array,
    Dictionary,
    Stream,
    IndRef
};

// Code of the EVellocError raised when an object graph being written nests deeper than
// MaxWriteDepth or contains itself.
constexpr int32_t PDFObjectNestingError = 301;

// Containers nested deeper than this are not written (the writer raises PDFObjectNestingError).
constexpr int32_t MaxWriteDepth = 1024;

// Arrays and dictionaries nested deeper than this make the parsed text unreadable.
constexpr int32_t MaxParseDepth = 512;

// Upper bound of the bytes DecodedData produces by default; more counts as a decoding failure.
constexpr size_t MaxDecodedStreamSize = size_t{1} << 30;

// The abstract PDF object. Every object belongs to the TPDFStructure that made it, which owns
// and frees it; everybody else holds plain pointers.
class TPDFObject
{
  public:
    // Only a TPDFStructure can make this key, so only it constructs objects.
    class TKey
    {
        friend class TPDFStructure;
        TKey() = default;
    };

    TPDFObject(const TPDFObject&) = delete;
    TPDFObject& operator=(const TPDFObject&) = delete;
    virtual ~TPDFObject() = default;

    TPDFObjectKind Kind() const { return m_Kind; }
    TPDFStructure& Owner() const { return *m_Owner; }

    bool IsIndirect() const { return m_IsIndirect; }
    int32_t ObjectNumber() const { return m_ObjectNumber; }
    int32_t Generation() const { return m_Generation; }
    // Called by the document when it makes the object an indirect object.
    void SetIndirectIdentity(int32_t objectNumber, int32_t generation);

    // Appends the object's PDF text to `out`. Raises EVellocError (PDFObjectNestingError) for a
    // container that holds itself or nests too deeply.
    virtual void WriteText(std::string& out) const = 0;
    std::string Text() const;

    // Asks the owner to destroy this object (TPDFStructure::ReleaseObject).
    void Release();
    // Adds delta to the object number of every reference inside the object.
    virtual void Renumber(int32_t delta);
    // True when the object holds `obj` directly (as a key, value or item).
    virtual bool RefersTo(const TPDFObject* obj) const;

    template <class T> bool Is() const { return m_Kind == T::StaticKind; }
    template <class T> T* As() { return Is<T>() ? static_cast<T*>(this) : nullptr; }
    template <class T> const T* As() const
    {
        return Is<T>() ? static_cast<const T*>(this) : nullptr;
    }

  protected:
    TPDFObject(TPDFStructure& owner, TPDFObjectKind kind) : m_Owner(&owner), m_Kind(kind) {}

  private:
    friend class TPDFNestingGuard;

    TPDFStructure* m_Owner;
    bool m_IsIndirect = false;
    int32_t m_ObjectNumber = 0;
    int32_t m_Generation = 0;
    TPDFObjectKind m_Kind;
    // Set while the container is being written or renumbered, to stop at cycles.
    mutable bool m_Visiting = false;
};

// Appends the PDF text of a name with this value: "/" and the bytes, with "#XX" for the bytes
// that cannot stand in a name as they are. Used wherever a name is written outside an object.
void AppendNameText(std::string& out, std::string_view value);

// Null-safe downcast: nullptr when obj is nullptr or of another kind.
template <class T> T* ObjectAs(TPDFObject* obj)
{
    return obj ? obj->As<T>() : nullptr;
}
template <class T> const T* ObjectAs(const TPDFObject* obj)
{
    return obj ? obj->As<T>() : nullptr;
}

class TPDFNull : public TPDFObject
{
  public:
    static constexpr TPDFObjectKind StaticKind = TPDFObjectKind::Null;
    TPDFNull(TKey, TPDFStructure& owner) : TPDFObject(owner, StaticKind) {}
    void WriteText(std::string& out) const override;
};

class TPDFBoolean : public TPDFObject
{
  public:
    static constexpr TPDFObjectKind StaticKind = TPDFObjectKind::Boolean;
    TPDFBoolean(TKey, TPDFStructure& owner, bool value)
        : TPDFObject(owner, StaticKind), m_Value(value)
    {
    }
    bool Value() const { return m_Value; }
    void SetValue(bool value) { m_Value = value; }
    void WriteText(std::string& out) const override;

  private:
    bool m_Value;
};

class TPDFNumeric : public TPDFObject
{
  public:
    static constexpr TPDFObjectKind StaticKind = TPDFObjectKind::Numeric;
    TPDFNumeric(TKey, TPDFStructure& owner, double value)
        : TPDFObject(owner, StaticKind), m_Value(value)
    {
    }
    double Value() const { return m_Value; }
    void SetValue(double value) { m_Value = value; }
    // Nearest integer, ties to even, saturated to the 32-bit range.
    int32_t AsInteger() const;
    void WriteText(std::string& out) const override;

  private:
    double m_Value;
};

// A name; Value holds the bytes without the leading slash and never changes, which lets the
// structure index names by value.
class TPDFName : public TPDFObject
{
  public:
    static constexpr TPDFObjectKind StaticKind = TPDFObjectKind::Name;
    TPDFName(TKey, TPDFStructure& owner, std::string value)
        : TPDFObject(owner, StaticKind), m_Value(std::move(value))
    {
    }
    const std::string& Value() const { return m_Value; }
    // Set on names handed out by TPDFStructure::KeyName; such names are never released.
    bool IsKeyName() const { return m_IsKeyName; }
    void WriteText(std::string& out) const override;

  private:
    friend class TPDFStructure;
    const std::string m_Value;
    bool m_IsKeyName = false;
};

class TPDFString : public TPDFObject
{
  public:
    static constexpr TPDFObjectKind StaticKind = TPDFObjectKind::String;
    static constexpr uint8_t LiteralForm = 0;
    static constexpr uint8_t HexadecimalForm = 1;

    TPDFString(TKey, TPDFStructure& owner, std::string value, uint8_t hexForm)
        : TPDFObject(owner, StaticKind), m_Value(std::move(value)), m_HexForm(hexForm)
    {
    }
    const std::string& Value() const { return m_Value; }
    void SetValue(std::string value) { m_Value = std::move(value); }
    // LiteralForm or HexadecimalForm; any other value writes nothing.
    uint8_t HexForm() const { return m_HexForm; }
    void SetHexForm(uint8_t hexForm) { m_HexForm = hexForm; }
    void WriteText(std::string& out) const override;

  private:
    std::string m_Value;
    uint8_t m_HexForm;
};

class TPDFArray : public TPDFObject
{
  public:
    static constexpr TPDFObjectKind StaticKind = TPDFObjectKind::Array;
    TPDFArray(TKey, TPDFStructure& owner) : TPDFObject(owner, StaticKind) {}

    int32_t Count() const { return static_cast<int32_t>(m_Items.size()); }
    // nullptr outside 0..Count-1 (and for a missing item).
    TPDFObject* ItemAt(int32_t index) const;
    const std::vector<TPDFObject*>& Items() const { return m_Items; }

    void Add(TPDFObject* obj);
    // For 0 <= index <= Count; any other index is ignored.
    void Insert(int32_t index, TPDFObject* obj);
    // Stores obj at index (0..Count-1); the old item stays registered.
    void Replace(int32_t index, TPDFObject* obj);
    // Makes room for at least `count` more items without reallocating.
    void Reserve(int32_t count);

    void WriteText(std::string& out) const override;
    void Renumber(int32_t delta) override;
    bool RefersTo(const TPDFObject* obj) const override;

  private:
    std::vector<TPDFObject*> m_Items;
};

struct TPDFDictionaryEntry
{
    TPDFName* Key = nullptr;
    TPDFObject* Value = nullptr;
};

class TPDFDictionary : public TPDFObject
{
  public:
    static constexpr TPDFObjectKind StaticKind = TPDFObjectKind::Dictionary;
    TPDFDictionary(TKey, TPDFStructure& owner) : TPDFObject(owner, StaticKind) {}

    // Ignored when value is this dictionary; otherwise PutEntry(Owner().KeyName(key), value).
    void Put(std::string_view key, TPDFObject* value);
    // Replaces key and value of the entry with an equal key name in place (the old value stays
    // registered), or appends the pair. Ignored for a missing key or this dictionary as value.
    void PutEntry(TPDFName* key, TPDFObject* value);
    // Position of the entry with that key name, or -1.
    int32_t IndexOf(std::string_view key) const;
    // The value or nullptr; with resolve, a reference is replaced by what it resolves to.
    TPDFObject* Get(std::string_view key, bool resolve = false) const;
    // A number (references resolved) rounded to the nearest integer, ties to even; otherwise
    // defaultValue.
    int32_t GetInteger(std::string_view key, int32_t defaultValue) const;
    // The /Type value when it is a name (unresolved), else "".
    std::string TypeName() const;
    // Removes the entry, later entries moving up; key and value stay registered.
    void Remove(std::string_view key);

    int32_t Count() const { return static_cast<int32_t>(m_Entries.size()); }
    // nullptr outside 0..Count-1.
    const TPDFDictionaryEntry* EntryAt(int32_t index) const;
    const std::vector<TPDFDictionaryEntry>& Entries() const { return m_Entries; }

    // Makes this dictionary's entries equal to other's: the same objects when both belong to the
    // same structure, otherwise objects of this structure parsed from other's text.
    void CopyFrom(const TPDFDictionary* other);

    void WriteText(std::string& out) const override;
    void Renumber(int32_t delta) override;
    bool RefersTo(const TPDFObject* obj) const override;

  private:
    std::vector<TPDFDictionaryEntry> m_Entries;
};

class TPDFStream : public TPDFObject
{
  public:
    static constexpr TPDFObjectKind StaticKind = TPDFObjectKind::Stream;
    TPDFStream(TKey, TPDFStructure& owner, TPDFDictionary* dictionary)
        : TPDFObject(owner, StaticKind), m_Dictionary(dictionary)
    {
    }

    TPDFDictionary* Dictionary() const { return m_Dictionary; }
    const std::string& Data() const { return m_Data; }

    // Stores the bytes as they are and keeps /Length equal to their count.
    void SetRawData(std::string data);
    // With compress: deflates data (zlib format, default level) and sets /Filter /FlateDecode;
    // without: stores data as it is and removes /Filter. Stale decode parameters are removed in
    // both cases.
    void SetData(std::string_view data, bool compress);
    // The data with /Filter undone (FlateDecode, ASCII85Decode, ASCIIHexDecode, LZWDecode and
    // their predictors). Empty when a filter fails or the output would exceed outputLimit.
    std::string DecodedData(size_t outputLimit = MaxDecodedStreamSize) const;

    void WriteText(std::string& out) const override;
    void Renumber(int32_t delta) override;
    // True for the stream's own dictionary and for whatever that dictionary holds.
    bool RefersTo(const TPDFObject* obj) const override;

  private:
    TPDFDictionary* m_Dictionary;
    std::string m_Data;
};

// An indirect reference "N G R". Its ObjectNumber and Generation are the target's; they hide
// the indirect identity of TPDFObject, which a reference never has.
class TPDFIndRef : public TPDFObject
{
  public:
    static constexpr TPDFObjectKind StaticKind = TPDFObjectKind::IndRef;
    TPDFIndRef(TKey, TPDFStructure& owner, int32_t objectNumber, int32_t generation)
        : TPDFObject(owner, StaticKind), m_ObjectNumber(objectNumber), m_Generation(generation)
    {
    }
    int32_t ObjectNumber() const { return m_ObjectNumber; }
    int32_t Generation() const { return m_Generation; }
    // What the owner's OnResolveReference answers, or nullptr without that hook.
    TPDFObject* Resolve();

    void WriteText(std::string& out) const override;
    void Renumber(int32_t delta) override;

  private:
    int32_t m_ObjectNumber;
    int32_t m_Generation;
};

struct TPDFIndirectIdentity
{
    int32_t ObjectNumber = 0;
    int32_t Generation = 0;
};

// Registry, factory and parser of PDF objects. Owns every object it makes, frees them in
// creation order when cleared or destroyed.
class TPDFStructure
{
  public:
    TPDFStructure();
    ~TPDFStructure();
    TPDFStructure(const TPDFStructure&) = delete;
    TPDFStructure& operator=(const TPDFStructure&) = delete;

    // Asked with a reference, its object number and generation; answers the object or nullptr.
    std::function<TPDFObject*(TPDFIndRef* reference, int32_t objectNumber, int32_t generation)>
        OnResolveReference;
    // Asked with a sender and an object; makes the object an indirect object of the owning
    // document and answers its number and generation.
    std::function<TPDFIndirectIdentity(TPDFObject* sender, TPDFObject* obj)> OnRegisterIndirect;

    // OnRegisterIndirect's answer, or {0, 0} when the hook is not set.
    TPDFIndirectIdentity RegisterIndirect(TPDFObject* sender, TPDFObject* obj);

    // Digits after the decimal point for numbers; always 4.
    int32_t Precision() const { return m_Precision; }

    TPDFNull* NewNull();
    TPDFBoolean* NewBoolean(bool value);
    TPDFNumeric* NewNumber(double value);
    TPDFName* NewName(std::string value);
    // A name for a dictionary key: one shared object per structure for the common key names,
    // a fresh one for any other value; IsKeyName is set either way.
    TPDFName* KeyName(std::string_view value);
    TPDFString* NewString(std::string bytes, uint8_t hexForm = TPDFString::LiteralForm);
    TPDFIndRef* NewReference(int32_t objectNumber, int32_t generation);
    TPDFDictionary* NewDictionary();
    TPDFArray* NewArray();
    TPDFArray* NewArrayOf(std::span<TPDFObject* const> items);
    TPDFArray* NewIntegerArray(std::span<const int32_t> values);
    TPDFArray* NewRealArray(std::span<const double> values);
    TPDFStream* NewStream(std::string_view data, bool compress);

    // Destroys obj unless it is not registered here, is a key name, or a registered object
    // still holds it. True when it was destroyed.
    bool ReleaseObject(TPDFObject* obj);
    // Makes room for at least `count` more objects without reallocating the registry.
    void Reserve(int32_t count);
    // Frees every object and empties the registry.
    void Clear();

    // Registered objects in creation order.
    size_t ObjectCount() const { return m_Objects.size(); }
    TPDFObject* ObjectAt(size_t index) const;

    // The first object in text, as new objects of this structure; a new TPDFNull when nothing
    // can be read. `consumed` counts the characters read, leading white space included (0 when
    // the text nests too deeply).
    TPDFObject* Parse(std::string_view text);
    TPDFObject* ParseCounted(std::string_view text, size_t& consumed);

  private:
    friend class TPDFNestingGuard;

    template <class T> T* adopt(std::unique_ptr<T> obj);
    void indexName(TPDFName* name);
    void unindexName(const TPDFName* name, size_t registryIndex);

    std::vector<std::unique_ptr<TPDFObject>> m_Objects;
    // The first registered name of every value that KeyName shares, so that KeyName answers
    // what a search of the registry from its start would find.
    std::unordered_map<std::string_view, TPDFName*> m_FirstSharedName;
    int32_t m_Precision = 4; // PDFNumberPrecision, set again by Clear
    int32_t m_NestingDepth = 0;
};

} // namespace velloc

#endif
