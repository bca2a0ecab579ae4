// What an in-process COM server of ours needs besides its classes (Windows
// trees only): the module handle, the count of live objects, server locks
// and held class objects that DllCanUnloadNow reads, the type information
// of the type library the DLL carries (TYPELIB 1, loaded once under a lock
// and kept until unload), IDispatch served from that type information, a
// class object for one creatable class, and self-registration from the
// registration script resource plus the type library.
//
// Each DLL links its own copy of this library, so the state below is per
// DLL. The DLL's DllMain calls com_server::attach and detach.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <new>

namespace com_server {

// DLL_PROCESS_ATTACH: records the module, prepares the type-information
// lock, turns off thread notifications.
void attach(HINSTANCE module);
// DLL_PROCESS_DETACH: releases the kept type information (only on
// FreeLibrary: at process exit, reserved non-null, other DLLs may be gone).
void detach(LPVOID reserved);

HMODULE module();

// The component-wide count, changed atomically.
void lock();
void unlock();
LONG count();
// S_OK when the count is 0, S_FALSE otherwise.
HRESULT canUnloadNow();

// The type information of one interface or class of the DLL's own type
// library; S_OK with an AddRef'd pointer, or the load error.
HRESULT typeInfo(REFGUID guid, ITypeInfo** out);

// Writes the registry entries of the script (REGISTRY scriptId) under
// HKEY_CLASSES_ROOT and registers the type library with the DLL's folder as
// help folder; the first failing HRESULT, else S_OK.
HRESULT registerServer(int scriptId);
// Removes what the script wrote, and the type library's registration when
// removeTypeLib is set; always S_OK.
HRESULT unregisterServer(int scriptId, bool removeTypeLib);

// IDispatch of a dual interface iid, through its type information.
HRESULT getTypeInfo(REFIID iid, UINT index, ITypeInfo** out);
HRESULT getIDsOfNames(REFIID iid, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids);
// A failed member that left an error object on the thread comes back to a
// late-bound caller as DISP_E_EXCEPTION with that object's source and
// description in *excep.
HRESULT invoke(REFIID iid, void* object, DISPID id, REFIID riid, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* excep, UINT* argErr);

// The IDispatch part of a dual interface I (with interface id *iid), for a
// class that implements I's own members and IUnknown.
template <class I>
class Dispatch : public I {
public:
    explicit Dispatch(const IID& iid) : iid_(&iid) {}

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        return com_server::getTypeInfo(*iid_, index, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return com_server::getIDsOfNames(*iid_, riid, names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excep, UINT* argErr) override {
        return com_server::invoke(*iid_, static_cast<I*>(this), id, riid, flags, params, result, excep, argErr);
    }

protected:
    const IID& dispatchIid() const { return *iid_; }

private:
    const IID* iid_;
};

// A creatable class that may be aggregated. The object keeps its own
// IUnknown (the one an aggregating object holds) apart from the IUnknown
// its interfaces answer with, which is the outer object's when aggregated.
// Derived declares `friend class com_server::Aggregated<Derived>`, has a
// constructor taking the outer object, forwards its QueryInterface, AddRef
// and Release to outer(), and answers its other interfaces in
//   HRESULT queryOwnInterface(REFIID riid, void** out)
// (AddRef'd; *out is null on entry, E_NOINTERFACE for anything else).
template <class Derived>
class Aggregated {
public:
    // The class object's CreateInstance: an outer object may ask for
    // IUnknown only (else CLASS_E_NOAGGREGATION).
    static HRESULT create(IUnknown* outer, REFIID riid, void** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        Derived* object = new (std::nothrow) Derived(outer);
        if (!object) return E_OUTOFMEMORY;
        Aggregated& self = *object;
        HRESULT hr = self.inner_.QueryInterface(riid, out);
        self.inner_.Release();  // the construction reference
        return hr;
    }

protected:
    explicit Aggregated(IUnknown* outer) : inner_(static_cast<Derived*>(this)), outer_(outer ? outer : &inner_) {}
    IUnknown* outer() const { return outer_; }

private:
    struct Inner final : IUnknown {
        explicit Inner(Derived* object) : self(object) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
            if (!out) return E_POINTER;
            *out = nullptr;
            if (!IsEqualIID(riid, IID_IUnknown)) return self->queryOwnInterface(riid, out);
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs)); }
        STDMETHODIMP_(ULONG) Release() override {
            LONG n = InterlockedDecrement(&refs);
            if (n == 0) delete self;
            return ULONG(n);
        }
        Derived* self;
        LONG refs = 1;
    };

    Inner inner_;
    IUnknown* outer_;  // the aggregating object, or &inner_
};

// The class object of one creatable class: Create(outer, riid, out) makes
// an instance. The object is static and never freed; a client holding it
// counts as a lock on the server.
using CreateFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** out);

class ClassFactory final : public IClassFactory {
public:
    explicit constexpr ClassFactory(CreateFn create) : create_(create) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    CreateFn create_;
};

// DllGetClassObject for a server with one creatable class.
HRESULT getClassObject(ClassFactory& factory, REFCLSID served, REFCLSID clsid, REFIID riid, void** out);

}  // namespace com_server
