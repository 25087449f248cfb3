#pragma once
// Placeholder interface until the record database lands.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
class KvDataBase {
public:
    int State = 0;
    std::int32_t UserCount = 0;
    std::function<void(const std::string&)> LogError;
    bool OpenDataBase(const std::string&) { return false; }
    void CloseDataBase() {}
    void SetGlobalVal(int, std::string_view) {}
    std::string GetGlobalVal(int) { return ""; }
    std::int32_t GetUserID(std::string_view) { return 0; }
    std::int16_t CreateUser(std::string_view, std::string_view, std::string_view, std::string_view) { return 0; }
    std::int16_t RemoveUser(std::string_view) { return 0; }
    std::string ReadValue(std::int32_t, int) { return ""; }
    std::int32_t WriteValue(std::int32_t, int, std::string_view) { return 0; }
    bool Sync() { return true; }
    bool IsLocked() const { return false; }
};
