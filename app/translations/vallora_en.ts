<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>关于 %1</source>
        <translation>About %1</translation>
    </message>
</context>
<context>
    <name>CEngineText</name>
    <message>
        <source>总扇区:%u</source>
        <translation>Total sectors: %u</translation>
    </message>
    <message>
        <source>已扫描:%u个扇区</source>
        <translation>Swept: %u sectors</translation>
    </message>
    <message>
        <source>找到%u个文件</source>
        <translation>Found %u files</translation>
    </message>
    <message>
        <source>搜索完成,文件恢复中...</source>
        <translation>Sweep done, writing the files...</translation>
    </message>
    <message>
        <source>成功恢复%u个文件</source>
        <translation>%u files recovered</translation>
    </message>
    <message>
        <source>用时%d秒,成功恢复%u个文件</source>
        <translation>%d seconds, %u files recovered</translation>
    </message>
    <message>
        <source>扫描未完成:已扫描%llu个扇区,共%llu个扇区(%.2f%%)</source>
        <translation>The sweep did not finish: %llu of %llu sectors swept (%.2f%%)</translation>
    </message>
    <message>
        <source>扫描完成</source>
        <translation>Scan complete</translation>
    </message>
    <message>
        <source>扫描终止</source>
        <translation>Scan stopped</translation>
    </message>
    <message>
        <source>正在初始化,请等待......</source>
        <translation>Starting, please wait......</translation>
    </message>
    <message>
        <source>正在搜索%s盘文件</source>
        <translation>Searching %s</translation>
    </message>
    <message>
        <source>,其中%u个因同名文件已存在而另存新名</source>
        <translation>; %u saved under a new name because the name was taken</translation>
    </message>
    <message>
        <source>,%u个已存在相同文件,未重复写入</source>
        <translation>; %u were there already and not written again</translation>
    </message>
</context>
<context>
    <name>CExplorer1</name>
    <message>
        <source>Vallora 只读取要扫描的盘,从不写入。请把恢复的照片保存到另一个盘上。
(无法连接网络,这里的消息页面暂时不能显示。)</source>
        <translation>Vallora only reads the drive it scans and never writes to it. Save the recovered photos on another drive.
(The news page cannot be shown: there is no network connection.)</translation>
    </message>
</context>
<context>
    <name>CPublisher</name>
    <message>
        <source>Vallora 照片恢复</source>
        <translation>Vallora Photo Recovery</translation>
    </message>
    <message>
        <source>，1.2 版</source>
        <translation>, version 1.2</translation>
    </message>
    <message>
        <source>免费软件，只读扫描，不改动被扫描的盘</source>
        <translation>Free software. Reads only; never changes the scanned drive</translation>
    </message>
    <message>
        <source>请勿向要扫描的盘写入文件</source>
        <translation>Do not write to the drive being scanned</translation>
    </message>
    <message>
        <source>邮箱: support@vallora.example</source>
        <translation>Mail: support@vallora.example</translation>
    </message>
</context>
<context>
    <name>CScanDig</name>
    <message>
        <source>正在初始化,请等待....</source>
        <translation>Starting, please wait....</translation>
    </message>
    <message>
        <source>进度</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>静态</source>
        <translation>Static</translation>
    </message>
    <message>
        <source>已扫描</source>
        <translation>Swept</translation>
    </message>
    <message>
        <source>百分比</source>
        <translation>Percent</translation>
    </message>
    <message>
        <source>找到0个文件</source>
        <translation>Found 0 files</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>已扫描 %1 GB / 共 %2 GB    %3 MB/s    已用时 %4    剩余 %5</source>
        <translation>%1 GB of %2 GB swept    %3 MB/s    elapsed %4    left %5</translation>
    </message>
    <message>
        <source>无法开始扫描</source>
        <translation>The scan cannot start</translation>
    </message>
    <message>
        <source>改为逐个扇区扫描整个盘吗?这样不区分已用和空闲的空间,盘上现有的照片也会被再次找到。</source>
        <translation>Sweep every sector of the drive instead? Used and free space are then swept alike, so photos still on the drive are found again too.</translation>
    </message>
    <message>
        <source>这个文件夹里有上次没有完成的扫描(已扫描%1%,已恢复%2个文件,另有%3个已找到的文件尚未写入)。</source>
        <translation>This folder holds a scan that did not finish (%1% swept, %2 files recovered, %3 more found and not written yet).</translation>
    </message>
    <message>
        <source>从上次停下的地方继续扫描吗?选择“否”将从头开始扫描。</source>
        <translation>Continue the scan where it stopped? “No” starts the scan from the beginning.</translation>
    </message>
    <message>
        <source>继续上次的扫描</source>
        <translation>Continue the last scan</translation>
    </message>
    <message>
        <source>扫描前请注意:</source>
        <translation>Before the scan, please note:</translation>
    </message>
    <message>
        <source>仍然开始扫描吗?</source>
        <translation>Start the scan anyway?</translation>
    </message>
    <message>
        <source>扫描前的提示</source>
        <translation>Before the scan</translation>
    </message>
    <message>
        <source>取消扫描以后,恢复已经扫描到的文件</source>
        <translation>Stop the scan and recover the files found so far?</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>Question</translation>
    </message>
</context>
<context>
    <name>CScanWorker</name>
    <message>
        <source>无法继续上次的扫描。</source>
        <translation>The last scan cannot be continued.</translation>
    </message>
    <message>
        <source>扫描意外结束。</source>
        <translation>The scan ended unexpectedly.</translation>
    </message>
    <message>
        <source>没有选择要扫描的盘或磁盘映像文件。</source>
        <translation>No drive or disk image file was chosen for the scan.</translation>
    </message>
    <message>
        <source>无法打开要扫描的盘或磁盘映像文件。</source>
        <translation>The drive or disk image file cannot be opened.</translation>
    </message>
    <message>
        <source>无法按这个盘的文件系统读取它。</source>
        <translation>The drive cannot be read as its file system.</translation>
    </message>
</context>
<context>
    <name>CUserPrompts</name>
    <message>
        <source>磁盘映像 (*.img *.dd *.raw *.bin *.iso);;所有文件 (*)</source>
        <translation>Disk images (*.img *.dd *.raw *.bin *.iso);;All files (*)</translation>
    </message>
    <message>
        <source>继续扫描</source>
        <translation>Go on scanning</translation>
    </message>
</context>
<context>
    <name>CValloraDlg</name>
    <message>
        <source>操作步骤:</source>
        <translation>Steps:</translation>
    </message>
    <message>
        <source> 1.选择盘符   2.选择文件保存路径   3.开始扫描   4.扫描完成开始恢复   5.打开文件夹查看恢复后的文件</source>
        <translation> 1. Choose the drive   2. Choose where to save   3. Start the scan   4. The files are recovered   5. Open the folder</translation>
    </message>
    <message>
        <source>请选择盘符</source>
        <translation>Drive:</translation>
    </message>
    <message>
        <source>开始扫描</source>
        <translation>Start scan</translation>
    </message>
    <message>
        <source>恢复文件保存到:</source>
        <translation>Save to:</translation>
    </message>
    <message>
        <source>浏览...</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>查看文件夹</source>
        <translation>Open folder</translation>
    </message>
    <message>
        <source>关于 Vallora(&amp;A)...</source>
        <translation>&amp;About Vallora...</translation>
    </message>
    <message>
        <source>扫描的分区和存放恢复后文件的盘符不能是同一盘符,请选择其它盘!</source>
        <translation>The recovered files cannot be saved on the drive being scanned. Please choose another drive!</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>映像文件 %1</source>
        <translation>Image file %1</translation>
    </message>
    <message>
        <source>选择磁盘映像文件...</source>
        <translation>Choose a disk image file...</translation>
    </message>
    <message>
        <source>文件夹不存在:%1</source>
        <translation>The folder does not exist: %1</translation>
    </message>
    <message>
        <source>请选择要扫描的盘,或者选择一个磁盘映像文件。</source>
        <translation>Choose a drive to scan, or a disk image file.</translation>
    </message>
    <message>
        <source>(可移动)</source>
        <translation>(removable)</translation>
    </message>
    <message>
        <source>(系统盘)</source>
        <translation>(system disk)</translation>
    </message>
    <message>
        <source>挂载于</source>
        <translation>mounted at</translation>
    </message>
    <message>
        <source>映像</source>
        <translation>image</translation>
    </message>
    <message>
        <source>恢复的文件不能保存到这个文件夹。</source>
        <translation>The recovered files cannot be saved in this folder.</translation>
    </message>
    <message>
        <source>无法确定这个文件夹是否在要扫描的盘上。</source>
        <translation>Whether this folder lies on the drive being scanned cannot be told.</translation>
    </message>
    <message>
        <source>仍然保存到这里吗?</source>
        <translation>Save there anyway?</translation>
    </message>
    <message>
        <source>深度扫描(较慢,找回更多照片)</source>
        <translation>Thorough scan (slower, finds more photos)</translation>
    </message>
    <message>
        <source>按JPEG结构把每张照片跟到它确切的结尾,并逐张解码验证:能找回普通扫描漏掉的照片(结尾扇区残留旧数据的、以其他段开头的),缩略图不再顶替原照片,相同的照片只保存一次。扫描较慢。</source>
        <translation>Follows each photo through its JPEG structure to its exact end and decodes it to check it: finds photos the normal scan misses (old data left in the last sector, other segments first), thumbnails no longer stand in for the photo, and identical photos are saved once. Slower.</translation>
    </message>
    <message>
        <source>保留不完整的照片(存入partial文件夹)</source>
        <translation>Keep incomplete photos (in a partial folder)</translation>
    </message>
    <message>
        <source>深度扫描时,把被截断或中途损坏、无法完整解码的照片另存到保存路径下的partial文件夹。</source>
        <translation>In a thorough scan, photos that are cut short or damaged part way and cannot be decoded whole are saved in a partial folder inside the output folder.</translation>
    </message>
</context>
</TS>
