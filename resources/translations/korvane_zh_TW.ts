<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW" sourcelanguage="zh_CN">
<context>
    <name>CameraParamWidget</name>
    <message>
        <source>曝光时间</source>
        <translation>曝光時間</translation>
    </message>
    <message>
        <source>增益调节</source>
        <translation>增益調節</translation>
    </message>
    <message>
        <source>清晰度</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>清晰度</translation>
    </message>
    <message>
        <source>真实度</source>
        <translation>真實度</translation>
    </message>
    <message>
        <source>发射率</source>
        <translation>發射率</translation>
    </message>
    <message>
        <source>反射温度</source>
        <translation>反射溫度</translation>
    </message>
    <message>
        <source>大气温度</source>
        <translation>大氣溫度</translation>
    </message>
    <message>
        <source>温度范围</source>
        <translation>溫度範圍</translation>
    </message>
    <message>
        <source>目标距离</source>
        <translation>目標距離</translation>
    </message>
</context>
<context>
    <name>CameraWgtBox</name>
    <message>
        <source>左成品</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>左成品</translation>
    </message>
    <message>
        <source>左模腔</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>左模腔</translation>
    </message>
    <message>
        <source>右成品</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>右成品</translation>
    </message>
    <message>
        <source>右模腔</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>右模腔</translation>
    </message>
    <message>
        <source>成品</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>成品</translation>
    </message>
    <message>
        <source>模腔</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>模腔</translation>
    </message>
    <message>
        <source>取样中</source>
        <translation>取樣中</translation>
    </message>
    <message>
        <source>停止中</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>停止中</translation>
    </message>
    <message>
        <source>检测中</source>
        <translation>檢測中</translation>
    </message>
    <message>
        <source>检测完</source>
        <translation>檢測完</translation>
    </message>
    <message>
        <source>等待中</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>等待中</translation>
    </message>
    <message>
        <source>%1号相机 %2 %3</source>
        <translation>%1號相機 %2 %3</translation>
    </message>
    <message>
        <source>相机%1</source>
        <translation>相機%1</translation>
    </message>
    <message>
        <source>帧率 </source>
        <translation>幀率 </translation>
    </message>
    <message>
        <source>NG数 </source>
        <translation>NG數 </translation>
    </message>
    <message>
        <source>总数 </source>
        <translation>總數 </translation>
    </message>
    <message>
        <source>图片信息</source>
        <translation>圖片資訊</translation>
    </message>
    <message>
        <source>模板数 %1 / %2   %3</source>
        <translation>範本數 %1 / %2   %3</translation>
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
        <translation>週期%1秒</translation>
    </message>
    <message>
        <source>重新取样</source>
        <translation>重新取樣</translation>
    </message>
    <message>
        <source>停止检测</source>
        <translation>停止檢測</translation>
    </message>
    <message>
        <source>开始检测</source>
        <translation>開始檢測</translation>
    </message>
</context>
<context>
    <name>DrawROIWidget</name>
    <message>
        <source>完成设定</source>
        <translation>完成設定</translation>
    </message>
    <message>
        <source>模板</source>
        <translation>範本</translation>
    </message>
    <message>
        <source>实时画面</source>
        <translation>即時畫面</translation>
    </message>
    <message>
        <source>最近NG图</source>
        <translation>最近NG圖</translation>
    </message>
    <message>
        <source>OK图片记录</source>
        <translation>OK圖片記錄</translation>
    </message>
    <message>
        <source>NG图片记录</source>
        <translation>NG圖片記錄</translation>
    </message>
    <message>
        <source>查看模板</source>
        <translation>查看範本</translation>
    </message>
    <message>
        <source>增减区域</source>
        <translation>增減區域</translation>
    </message>
    <message>
        <source>不检测此模</source>
        <translation>不檢測此模</translation>
    </message>
    <message>
        <source>画矩形</source>
        <translation>畫矩形</translation>
    </message>
    <message>
        <source>添加为模板</source>
        <translation>添加為範本</translation>
    </message>
    <message>
        <source>画圆形</source>
        <translation>畫圓形</translation>
    </message>
    <message>
        <source>删除当前模板</source>
        <translation>刪除目前範本</translation>
    </message>
    <message>
        <source>画手势区域</source>
        <translation>畫手勢區域</translation>
    </message>
    <message>
        <source>复制当前区域</source>
        <translation>複製目前區域</translation>
    </message>
    <message>
        <source>删除选中区域</source>
        <translation>刪除選中區域</translation>
    </message>
    <message>
        <source>重新检测</source>
        <translation>重新檢測</translation>
    </message>
    <message>
        <source>删除全部区域</source>
        <translation>刪除全部區域</translation>
    </message>
    <message>
        <source>实时↔模板</source>
        <translation>即時↔範本</translation>
    </message>
    <message>
        <source>%1 号相机</source>
        <translation>%1 號相機</translation>
    </message>
    <message>
        <source>全部相机</source>
        <translation>全部相機</translation>
    </message>
    <message>
        <source>模板数 %1 / %2   %3</source>
        <translation>範本數 %1 / %2   %3</translation>
    </message>
    <message>
        <source>OK记录共0张图片</source>
        <translation>OK記錄共0張圖片</translation>
    </message>
    <message>
        <source>NG记录共0张图片</source>
        <translation>NG記錄共0張圖片</translation>
    </message>
    <message>
        <source>OK记录共%1张图片 当前为第%2张 %3</source>
        <translation>OK記錄共%1張圖片 目前為第%2張 %3</translation>
    </message>
    <message>
        <source>NG记录共%1张图片 当前为第%2张 %3</source>
        <translation>NG記錄共%1張圖片 目前為第%2張 %3</translation>
    </message>
    <message>
        <source>%1检测</source>
        <translation>%1檢測</translation>
    </message>
</context>
<context>
    <name>ImagePickForm_Source</name>
    <message>
        <source>·图片类型</source>
        <translation>·圖片類型</translation>
    </message>
    <message>
        <source>模板</source>
        <translation>範本</translation>
    </message>
    <message>
        <source>实时画面</source>
        <translation>即時畫面</translation>
    </message>
    <message>
        <source>最近NG</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>最近NG</translation>
    </message>
    <message>
        <source>OK记录</source>
        <translation>OK記錄</translation>
    </message>
    <message>
        <source>NG记录</source>
        <translation>NG記錄</translation>
    </message>
    <message>
        <source>·相机</source>
        <translation>·相機</translation>
    </message>
    <message>
        <source>%1号相机</source>
        <translation>%1號相機</translation>
    </message>
    <message>
        <source>全部相机</source>
        <translation>全部相機</translation>
    </message>
    <message>
        <source>·检测类型</source>
        <translation>·檢測類型</translation>
    </message>
    <message>
        <source>成品检测</source>
        <translation>成品檢測</translation>
    </message>
    <message>
        <source>模腔检测</source>
        <translation>模腔檢測</translation>
    </message>
    <message>
        <source>左成品</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>左成品</translation>
    </message>
    <message>
        <source>左模腔</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>左模腔</translation>
    </message>
    <message>
        <source>右成品</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>右成品</translation>
    </message>
    <message>
        <source>右模腔</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>右模腔</translation>
    </message>
    <message>
        <source>%1检测</source>
        <translation>%1檢測</translation>
    </message>
</context>
<context>
    <name>Main_MenuBtnWidget</name>
    <message>
        <source>系统参数</source>
        <translation>系統參數</translation>
    </message>
    <message>
        <source>区域设置</source>
        <translation>區域設定</translation>
    </message>
    <message>
        <source>生产统计</source>
        <translation>生產統計</translation>
    </message>
    <message>
        <source>温度波形图</source>
        <translation>溫度波形圖</translation>
    </message>
    <message>
        <source>模腔手动抓拍</source>
        <translation>模腔手動拍攝</translation>
    </message>
    <message>
        <source>成品手动抓拍</source>
        <translation>成品手動拍攝</translation>
    </message>
</context>
<context>
    <name>MultipleBtnGroup</name>
    <message>
        <source>相机%1</source>
        <translation>相機%1</translation>
    </message>
    <message>
        <source>所有相机</source>
        <translation>所有相機</translation>
    </message>
</context>
<context>
    <name>NumberKeyPad</name>
    <message>
        <source>退格</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>退格</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>確定</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>全部</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>全部</translation>
    </message>
    <message>
        <source>选择投影数据文件目录</source>
        <translation>選擇更新套件</translation>
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
        <translation>生產統計</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>查詢</translation>
    </message>
    <message>
        <source>相机号</source>
        <translation>相機號</translation>
    </message>
    <message>
        <source>检测号</source>
        <translation>檢測號</translation>
    </message>
    <message>
        <source>区域号</source>
        <translation>區域號</translation>
    </message>
    <message>
        <source>日期时间</source>
        <translation>日期時間</translation>
    </message>
</context>
<context>
    <name>SystemParamDialog</name>
    <message>
        <source>参数设置</source>
        <translation>參數設定</translation>
    </message>
    <message>
        <source>操作记录</source>
        <translation>操作記錄</translation>
    </message>
</context>
<context>
    <name>SystemParamWidget</name>
    <message>
        <source>秒</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>秒</translation>
    </message>
    <message>
        <source>成品延時</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>成品延時</translation>
    </message>
    <message>
        <source>模腔延时</source>
        <translation>模腔延時</translation>
    </message>
    <message>
        <source>一次延时</source>
        <translation>一次延時</translation>
    </message>
    <message>
        <source>二次延时</source>
        <translation>二次延時</translation>
    </message>
    <message>
        <source>模腔重檢</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>模腔重檢</translation>
    </message>
    <message>
        <source>过滤尺寸</source>
        <translation>過濾尺寸</translation>
    </message>
    <message>
        <source>报警面积</source>
        <translation>報警面積</translation>
    </message>
    <message>
        <source>启用成品检测</source>
        <translation>啟用成品檢測</translation>
    </message>
    <message>
        <source>半自動</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>半自動</translation>
    </message>
    <message>
        <source>运动矫正</source>
        <translation>運動矯正</translation>
    </message>
    <message>
        <source>模腔参数同步成品参数</source>
        <translation>模腔參數同步成品參數</translation>
    </message>
    <message>
        <source>启用密码保护</source>
        <translation>啟用密碼保護</translation>
    </message>
    <message>
        <source>模板自动更新</source>
        <translation>範本自動更新</translation>
    </message>
    <message>
        <source>清零</source>
        <translatorcomment>same as the source</translatorcomment>
        <translation>清零</translation>
    </message>
    <message>
        <source>关闭电源</source>
        <translation>關閉電源</translation>
    </message>
    <message>
        <source>延时参数</source>
        <translation>延時參數</translation>
    </message>
    <message>
        <source>NG时自动重检次数</source>
        <translation>NG時自動重檢次數</translation>
    </message>
    <message>
        <source>功能设置</source>
        <translation>功能設定</translation>
    </message>
    <message>
        <source>参数开关</source>
        <translation>參數開關</translation>
    </message>
    <message>
        <source>参数管理</source>
        <translation>參數管理</translation>
    </message>
    <message>
        <source>计数清零</source>
        <translation>計數清零</translation>
    </message>
    <message>
        <source>系统语言</source>
        <translation>系統語言</translation>
    </message>
    <message>
        <source>电源管理</source>
        <translation>電源管理</translation>
    </message>
</context>
<context>
    <name>TemperatureChartWidget</name>
    <message>
        <source>温度波形图</source>
        <translation>溫度波形圖</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>查詢</translation>
    </message>
    <message>
        <source>相机号</source>
        <translation>相機號</translation>
    </message>
    <message>
        <source>检测号</source>
        <translation>檢測號</translation>
    </message>
    <message>
        <source>区域号</source>
        <translation>區域號</translation>
    </message>
    <message>
        <source>日期时间</source>
        <translation>日期時間</translation>
    </message>
    <message>
        <source>定时记录</source>
        <translation>定時記錄</translation>
    </message>
    <message>
        <source>分钟</source>
        <translation>分鐘</translation>
    </message>
</context>
<context>
    <name>VeZiRevoru</name>
    <message>
        <source>系统参数文件错误，请还原
参数组或联系供应商！</source>
        <translation>系統參數檔錯誤，請還原
參數組或聯繫供應商！</translation>
    </message>
</context>
<context>
    <name>WidgetChangeCamera</name>
    <message>
        <source>相机排序</source>
        <translation>相機排序</translation>
    </message>
</context>
</TS>
