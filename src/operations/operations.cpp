#include "operations/operations.h"

namespace varn {

namespace {

const wchar_t* const kOperationNames[] = {
    L"手动连接",         L"启动自动连接",       L"默认设备夺回后重连",
    L"声卡恢复后重连",   L"桥接器回插后重连",   L"启用被禁用的桥接器端点",
    L"端点启用后重连",   L"连续关闭声卡输入侦听", L"取消侦听",
    L"音量守护",         L"开机自启对齐",       L"启动准备工作",
    L"导出诊断包",
};
constexpr int kOperationCount = static_cast<int>(sizeof(kOperationNames) / sizeof(kOperationNames[0]));

}  // namespace

const wchar_t* OperationName(int kind) {
  return kind >= 1 && kind <= kOperationCount ? kOperationNames[kind - 1] : L"未知操作";
}

}  // namespace varn
