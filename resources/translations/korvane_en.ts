<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CameraParamWidget</name>
    <message>
        <source>曝光时间</source>
        <translation>Exposure</translation>
    </message>
    <message>
        <source>增益调节</source>
        <translation>Gain</translation>
    </message>
    <message>
        <source>清晰度</source>
        <translation>Sharpness</translation>
    </message>
    <message>
        <source>真实度</source>
        <translation>Contrast</translation>
    </message>
    <message>
        <source>发射率</source>
        <translation>Emissivity</translation>
    </message>
    <message>
        <source>反射温度</source>
        <translation>Reflected temp.</translation>
    </message>
    <message>
        <source>大气温度</source>
        <translation>Ambient temp.</translation>
    </message>
    <message>
        <source>温度范围</source>
        <translation>Temp. range</translation>
    </message>
    <message>
        <source>目标距离</source>
        <translation>Target distance</translation>
    </message>
</context>
<context>
    <name>CameraWgtBox</name>
    <message>
        <source>左成品</source>
        <translation>Left prod</translation>
    </message>
    <message>
        <source>左模腔</source>
        <translation>Left mold</translation>
    </message>
    <message>
        <source>右成品</source>
        <translation>Right prod</translation>
    </message>
    <message>
        <source>右模腔</source>
        <translation>Right mold</translation>
    </message>
    <message>
        <source>成品</source>
        <translation>Product</translation>
    </message>
    <message>
        <source>模腔</source>
        <translation>Mold</translation>
    </message>
    <message>
        <source>取样中</source>
        <translation>Sampling</translation>
    </message>
    <message>
        <source>停止中</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>检测中</source>
        <translation>Detecting</translation>
    </message>
    <message>
        <source>检测完</source>
        <translation>Detected</translation>
    </message>
    <message>
        <source>等待中</source>
        <translation>Waiting</translation>
    </message>
    <message>
        <source>%1号相机 %2 %3</source>
        <translation>Camera %1 %2 %3</translation>
    </message>
    <message>
        <source>相机%1</source>
        <translation>Camera %1</translation>
    </message>
    <message>
        <source>帧率 </source>
        <translation>FPS </translation>
    </message>
    <message>
        <source>NG数 </source>
        <translation>NG </translation>
    </message>
    <message>
        <source>总数 </source>
        <translation>Total </translation>
    </message>
    <message>
        <source>图片信息</source>
        <translation>Picture info</translation>
    </message>
    <message>
        <source>模板数 %1 / %2   %3</source>
        <translation>Template %1 / %2   %3</translation>
    </message>
</context>
<context>
    <name>CammerWidget</name>
    <message>
        <source>+10</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>+10</translation>
    </message>
    <message>
        <source>+1</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>+1</translation>
    </message>
    <message>
        <source>-1</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>-1</translation>
    </message>
    <message>
        <source>-10</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>-10</translation>
    </message>
    <message>
        <source>Y -1</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>Y -1</translation>
    </message>
    <message>
        <source>X -1</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>X -1</translation>
    </message>
    <message>
        <source>Y +1</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>Y +1</translation>
    </message>
    <message>
        <source>X +1</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>X +1</translation>
    </message>
</context>
<context>
    <name>DottomDockWidget</name>
    <message>
        <source>周期%1秒</source>
        <translation>Cycle %1 s</translation>
    </message>
    <message>
        <source>重新取样</source>
        <translation>Resample</translation>
    </message>
    <message>
        <source>停止检测</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>开始检测</source>
        <translation>Start</translation>
    </message>
</context>
<context>
    <name>DrawROIWidget</name>
    <message>
        <source>完成设定</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>模板</source>
        <translation>Templates</translation>
    </message>
    <message>
        <source>实时画面</source>
        <translation>Live</translation>
    </message>
    <message>
        <source>最近NG图</source>
        <translation>Recent NG</translation>
    </message>
    <message>
        <source>OK图片记录</source>
        <translation>OK records</translation>
    </message>
    <message>
        <source>NG图片记录</source>
        <translation>NG records</translation>
    </message>
    <message>
        <source>查看模板</source>
        <translation>View templates</translation>
    </message>
    <message>
        <source>增减区域</source>
        <translation>Edit areas</translation>
    </message>
    <message>
        <source>不检测此模</source>
        <translation>Skip this shot</translation>
    </message>
    <message>
        <source>画矩形</source>
        <translation>Rectangle</translation>
    </message>
    <message>
        <source>添加为模板</source>
        <translation>Add as template</translation>
    </message>
    <message>
        <source>画圆形</source>
        <translation>Circle</translation>
    </message>
    <message>
        <source>删除当前模板</source>
        <translation>Delete template</translation>
    </message>
    <message>
        <source>画手势区域</source>
        <translation>Freehand area</translation>
    </message>
    <message>
        <source>复制当前区域</source>
        <translation>Copy area</translation>
    </message>
    <message>
        <source>删除选中区域</source>
        <translation>Delete area</translation>
    </message>
    <message>
        <source>重新检测</source>
        <translation>Re-detect</translation>
    </message>
    <message>
        <source>删除全部区域</source>
        <translation>Delete all areas</translation>
    </message>
    <message>
        <source>实时↔模板</source>
        <translation>Live ↔ template</translation>
    </message>
    <message>
        <source>%1 号相机</source>
        <translation>Camera %1</translation>
    </message>
    <message>
        <source>全部相机</source>
        <translation>All cameras</translation>
    </message>
    <message>
        <source>模板数 %1 / %2   %3</source>
        <translation>Template %1 / %2   %3</translation>
    </message>
    <message>
        <source>OK记录共0张图片</source>
        <translation>OK records: no pictures</translation>
    </message>
    <message>
        <source>NG记录共0张图片</source>
        <translation>NG records: no pictures</translation>
    </message>
    <message>
        <source>OK记录共%1张图片 当前为第%2张 %3</source>
        <translation>OK records: %2 of %1 pictures %3</translation>
    </message>
    <message>
        <source>NG记录共%1张图片 当前为第%2张 %3</source>
        <translation>NG records: %2 of %1 pictures %3</translation>
    </message>
    <message>
        <source>%1检测</source>
        <translation>%1</translation>
    </message>
</context>
<context>
    <name>ImagePickForm_Source</name>
    <message>
        <source>·图片类型</source>
        <translation>· Picture type</translation>
    </message>
    <message>
        <source>模板</source>
        <translation>Templates</translation>
    </message>
    <message>
        <source>实时画面</source>
        <translation>Live</translation>
    </message>
    <message>
        <source>最近NG</source>
        <translation>Recent NG</translation>
    </message>
    <message>
        <source>OK记录</source>
        <translation>OK records</translation>
    </message>
    <message>
        <source>NG记录</source>
        <translation>NG records</translation>
    </message>
    <message>
        <source>·相机</source>
        <translation>· Camera</translation>
    </message>
    <message>
        <source>%1号相机</source>
        <translation>Camera %1</translation>
    </message>
    <message>
        <source>全部相机</source>
        <translation>All cameras</translation>
    </message>
    <message>
        <source>·检测类型</source>
        <translation>· Detect</translation>
    </message>
    <message>
        <source>成品检测</source>
        <translation>Product</translation>
    </message>
    <message>
        <source>模腔检测</source>
        <translation>Mold</translation>
    </message>
    <message>
        <source>左成品</source>
        <translation>Left prod</translation>
    </message>
    <message>
        <source>左模腔</source>
        <translation>Left mold</translation>
    </message>
    <message>
        <source>右成品</source>
        <translation>Right prod</translation>
    </message>
    <message>
        <source>右模腔</source>
        <translation>Right mold</translation>
    </message>
    <message>
        <source>%1检测</source>
        <translation>%1</translation>
    </message>
</context>
<context>
    <name>Main_MenuBtnWidget</name>
    <message>
        <source>系统参数</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>区域设置</source>
        <translation>Areas</translation>
    </message>
    <message>
        <source>生产统计</source>
        <translation>Statistics</translation>
    </message>
    <message>
        <source>温度波形图</source>
        <translation>Temperature</translation>
    </message>
    <message>
        <source>模腔手动抓拍</source>
        <translation>Mold shot</translation>
    </message>
    <message>
        <source>成品手动抓拍</source>
        <translation>Product shot</translation>
    </message>
</context>
<context>
    <name>MultipleBtnGroup</name>
    <message>
        <source>相机%1</source>
        <translation>Camera %1</translation>
    </message>
    <message>
        <source>所有相机</source>
        <translation>All</translation>
    </message>
</context>
<context>
    <name>NumberKeyPad</name>
    <message>
        <source>退格</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>选择投影数据文件目录</source>
        <translation>Choose the update package</translation>
    </message>
</context>
<context>
    <name>Slider</name>
    <message>
        <source>+ 1</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>+ 1</translation>
    </message>
    <message>
        <source>- 1</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>- 1</translation>
    </message>
</context>
<context>
    <name>StatisticsWidget</name>
    <message>
        <source>生产统计</source>
        <translation>Statistics</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>相机号</source>
        <translation>Camera</translation>
    </message>
    <message>
        <source>检测号</source>
        <translation>Detect</translation>
    </message>
    <message>
        <source>区域号</source>
        <translation>Area</translation>
    </message>
    <message>
        <source>日期时间</source>
        <translation>Date and time</translation>
    </message>
</context>
<context>
    <name>SystemParamDialog</name>
    <message>
        <source>参数设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>操作记录</source>
        <translation>Operation log</translation>
    </message>
</context>
<context>
    <name>SystemParamWidget</name>
    <message>
        <source>秒</source>
        <translation>s</translation>
    </message>
    <message>
        <source>成品延時</source>
        <translation>Product</translation>
    </message>
    <message>
        <source>模腔延时</source>
        <translation>Mold</translation>
    </message>
    <message>
        <source>一次延时</source>
        <translation>Pulse 1</translation>
    </message>
    <message>
        <source>二次延时</source>
        <translation>Pulse 2</translation>
    </message>
    <message>
        <source>模腔重檢</source>
        <translation>Re-checks</translation>
    </message>
    <message>
        <source>过滤尺寸</source>
        <translation>Filter size</translation>
    </message>
    <message>
        <source>报警面积</source>
        <translation>Alarm area</translation>
    </message>
    <message>
        <source>启用成品检测</source>
        <translation>Product detection on</translation>
    </message>
    <message>
        <source>半自動</source>
        <translation>Semi-automatic</translation>
    </message>
    <message>
        <source>运动矫正</source>
        <translation>Motion correction</translation>
    </message>
    <message>
        <source>模腔参数同步成品参数</source>
        <translation>Mold follows product</translation>
    </message>
    <message>
        <source>启用密码保护</source>
        <translation>Password protection</translation>
    </message>
    <message>
        <source>模板自动更新</source>
        <translation>Auto-update templates</translation>
    </message>
    <message>
        <source>清零</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>关闭电源</source>
        <translation>Power off</translation>
    </message>
    <message>
        <source>延时参数</source>
        <translation>Delays</translation>
    </message>
    <message>
        <source>NG时自动重检次数</source>
        <translation>Re-checks after NG</translation>
    </message>
    <message>
        <source>功能设置</source>
        <translation>Functions</translation>
    </message>
    <message>
        <source>参数开关</source>
        <translation>Switches</translation>
    </message>
    <message>
        <source>参数管理</source>
        <translation>Management</translation>
    </message>
    <message>
        <source>计数清零</source>
        <translation>Clear counts</translation>
    </message>
    <message>
        <source>系统语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>电源管理</source>
        <translation>Power</translation>
    </message>
</context>
<context>
    <name>TemperatureChartWidget</name>
    <message>
        <source>温度波形图</source>
        <translation>Temperature</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>相机号</source>
        <translation>Camera</translation>
    </message>
    <message>
        <source>检测号</source>
        <translation>Detect</translation>
    </message>
    <message>
        <source>区域号</source>
        <translation>Area</translation>
    </message>
    <message>
        <source>日期时间</source>
        <translation>Date and time</translation>
    </message>
    <message>
        <source>定时记录</source>
        <translation>Timed record</translation>
    </message>
    <message>
        <source>分钟</source>
        <translation>min</translation>
    </message>
</context>
<context>
    <name>VeZiRevoru</name>
    <message>
        <source>系统参数文件错误，请还原
参数组或联系供应商！</source>
        <translation>The system parameter file is damaged.
Restore a parameter group or call the supplier!</translation>
    </message>
</context>
<context>
    <name>WidgetChangeCamera</name>
    <message>
        <source>相机排序</source>
        <translation>Camera order</translation>
    </message>
</context>
</TS>
