// Reference-counted base of every object of the module.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>

// Live objects plus outstanding LockServer(TRUE) calls.
extern volatile LONG g_module_lock_count;
// The last serial handed out; the first object of the process gets 1.
extern volatile LONG g_last_object_serial;

// One entry of an interface table: the IID, the offset of the interface
// within the object, and the name written in trace lines.
struct InterfaceEntry {
    const IID* iid;
    std::ptrdiff_t offset;
    const char* name;
    bool (*available)();  // null: always offered
};

// Offset of interface Interface inside class Class. Classes that answer from
// a table have CUnknown as their first base, so the object's CUnknown part
// and the object itself share one address.
#define INTERFACE_OFFSET(Class, Interface) \
    (reinterpret_cast<std::ptrdiff_t>(static_cast<Interface*>(reinterpret_cast<Class*>(8))) - 8)

class CUnknown : public IUnknown {
public:
    CUnknown();
    virtual ~CUnknown();

    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    ULONG serial() const { return serial_; }

protected:
    // Looks riid up in table (in order); unmatched requests go to
    // CUnknown::QueryInterface, which answers IUnknown only.
    HRESULT query_table(const InterfaceEntry* table, std::size_t count, REFIID riid, void** ppv);

private:
    volatile LONG ref_count_;
    const ULONG serial_;
};

// Lets a class with several COM interfaces route all of their IUnknown
// methods to the object's single implementation.
#define FORWARD_IUNKNOWN_TO_CUNKNOWN()                                          \
    STDMETHODIMP_(ULONG) AddRef() override { return CUnknown::AddRef(); }       \
    STDMETHODIMP_(ULONG) Release() override { return CUnknown::Release(); }
