#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <string>

#include "platform/system_info.h"
#include "platform/windows/windows_time.h"

namespace raid {

namespace {

std::string Narrow(const wchar_t* w) {
  if (!w) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string s(static_cast<size_t>(n - 1), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, -1, s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring Wide(const std::string& s) {
  const int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring w(static_cast<size_t>(n - 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), n);
  return w;
}

// One value as text: a scalar through a conversion to a string, an array as
// its elements' texts joined by ", ".
std::string TextOf(VARIANT& v) {
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) return {};
  if (v.vt & VT_ARRAY) {
    SAFEARRAY* a = v.parray;
    if (!a || SafeArrayGetDim(a) != 1) return {};
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(a, 1, &lo);
    SafeArrayGetUBound(a, 1, &hi);
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(a, &vt);
    std::string joined;
    for (LONG i = lo; i <= hi; ++i) {
      VARIANT e;
      VariantInit(&e);
      if (vt == VT_VARIANT) {
        if (FAILED(SafeArrayGetElement(a, &i, &e))) continue;
      } else if (vt == VT_BSTR) {
        BSTR b = nullptr;
        if (FAILED(SafeArrayGetElement(a, &i, &b))) continue;
        e.vt = VT_BSTR;
        e.bstrVal = b;
      } else {
        continue;
      }
      const std::string t = TextOf(e);
      VariantClear(&e);
      if (!joined.empty()) joined += ", ";
      joined += t;
    }
    return joined;
  }
  VARIANT s;
  VariantInit(&s);
  std::string out;
  if (SUCCEEDED(VariantChangeType(&s, &v, 0, VT_BSTR))) out = Narrow(s.bstrVal);
  VariantClear(&s);
  return out;
}

}  // namespace

std::string QuerySystemProperty(const std::string& className, const std::string& propertyName) {
  IWbemLocator* locator = nullptr;
  if (FAILED(CoCreateInstance(CLSID_WbemAdministrativeLocator, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                              IID_IWbemLocator, reinterpret_cast<void**>(&locator))))
    return {};
  IWbemServices* services = nullptr;
  BSTR ns = SysAllocString(L"root\\cimv2");
  const HRESULT connected = locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
  SysFreeString(ns);
  if (FAILED(connected)) {
    locator->Release();
    return {};
  }
  std::string current;
  IEnumWbemClassObject* items = nullptr;
  BSTR language = SysAllocString(L"WQL");
  BSTR query = SysAllocString(Wide("Select * from " + className).c_str());
  const HRESULT queried = services->ExecQuery(language, query, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &items);
  SysFreeString(language);
  SysFreeString(query);
  bool found = false;
  if (SUCCEEDED(queried) && items) {
    items->Reset();
    while (!found) {
      IWbemClassObject* item = nullptr;
      ULONG returned = 0;
      if (items->Next(WBEM_INFINITE, 1, &item, &returned) != WBEM_S_NO_ERROR || returned == 0) break;
      SAFEARRAY* names = nullptr;
      if (SUCCEEDED(item->GetNames(nullptr, WBEM_FLAG_LOCAL_ONLY | WBEM_FLAG_PROPAGATED_ONLY | WBEM_FLAG_NONSYSTEM_ONLY,
                                   nullptr, &names)) &&
          names) {
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(names, 1, &lo);
        SafeArrayGetUBound(names, 1, &hi);
        for (LONG i = lo; i <= hi && !found; ++i) {
          BSTR name = nullptr;
          if (FAILED(SafeArrayGetElement(names, &i, &name))) continue;
          VARIANT value;
          VariantInit(&value);
          current.clear();
          if (SUCCEEDED(item->Get(name, 0, &value, nullptr, nullptr))) current = TextOf(value);
          VariantClear(&value);
          if (Narrow(name) == propertyName && !current.empty()) found = true;
          SysFreeString(name);
        }
        SafeArrayDestroy(names);
      }
      item->Release();
    }
    items->Release();
  }
  services->Release();
  locator->Release();
  // No instance had the property: the text of the last property read is
  // no answer, so the value is empty.
  return found ? current : std::string();
}

SystemProperties QuerySystemProperties() {
  SystemProperties p;
  p.boardManufacturer = QuerySystemProperty("Win32_BaseBoard", "Manufacturer");
  p.boardProduct = QuerySystemProperty("Win32_BaseBoard", "Product");
  p.systemName = QuerySystemProperty("Win32_Bus", "SystemName");
  p.ipAddresses = QuerySystemProperty("Win32_NetworkAdapterConfiguration", "IPAddress");
  return p;
}

}  // namespace raid

namespace raid {

int UtcOffsetMinutes(const LocalDateTime& t) {
  SYSTEMTIME local = ToSystemTime(t);
  SYSTEMTIME utc{};
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc)) return 0;
  FILETIME a{}, b{};
  if (!SystemTimeToFileTime(&local, &a) || !SystemTimeToFileTime(&utc, &b)) return 0;
  const auto ticks = [](const FILETIME& f) {
    return static_cast<int64_t>((static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
  };
  return static_cast<int>((ticks(a) - ticks(b)) / (10'000'000LL * 60));
}

std::string SystemCharset() { return "windows-" + std::to_string(GetACP()); }

}  // namespace raid
