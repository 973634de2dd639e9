<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>确定</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>关于 %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CEngineText</name>
    <message>
        <source>总扇区:%u</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已扫描:%u个扇区</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>找到%u个文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>搜索完成,文件恢复中...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>成功恢复%u个文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>用时%d秒,成功恢复%u个文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>扫描未完成:已扫描%llu个扇区,共%llu个扇区(%.2f%%)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>扫描完成</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>扫描终止</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>正在初始化,请等待......</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>正在搜索%s盘文件</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CPublisher</name>
    <message>
        <source>Vallora 照片恢复</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>，1.2 版</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>免费软件，只读扫描，不改动被扫描的盘</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请勿向要扫描的盘写入文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>邮箱: support@vallora.example</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CScanDig</name>
    <message>
        <source>正在初始化,请等待....</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>进度</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>静态</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已扫描</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>百分比</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>找到0个文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取消</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>已扫描 %1 GB / 共 %2 GB    %3 MB/s    已用时 %4    剩余 %5</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法开始扫描</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>改为逐个扇区扫描整个盘吗?这样不区分已用和空闲的空间,盘上现有的照片也会被再次找到。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>取消扫描以后,恢复已经扫描到的文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>提示</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CScanWorker</name>
    <message>
        <source>扫描意外结束。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>没有选择要扫描的盘或磁盘映像文件。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法打开要扫描的盘或磁盘映像文件。</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>无法按这个盘的文件系统读取它。</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CUserPrompts</name>
    <message>
        <source>磁盘映像 (*.img *.dd *.raw *.bin *.iso);;所有文件 (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>继续扫描</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CValloraDlg</name>
    <message>
        <source>操作步骤:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> 1.选择盘符   2.选择文件保存路径   3.开始扫描   4.扫描完成开始恢复   5.打开文件夹查看恢复后的文件</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请选择盘符</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>开始扫描</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>恢复文件保存到:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>浏览...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>查看文件夹</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>关于 Vallora(&amp;A)...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>扫描的分区和存放恢复后文件的盘符不能是同一盘符,请选择其它盘!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>关于</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>映像文件 %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>选择磁盘映像文件...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>文件夹不存在:%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>请选择要扫描的盘,或者选择一个磁盘映像文件。</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
