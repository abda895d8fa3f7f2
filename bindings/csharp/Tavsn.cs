// tavsn.dll for .NET hosts: P/Invoke declarations of its six exports, their
// result codes, and TavsnIdentifiers, which returns each identifier as a
// string or throws a TavsnException.
//
// Add this file to the host's project (or build it on its own with
// "mcs -target:library Tavsn.cs") and put tavsn.dll beside the program:
//
//   string macId = Tavsn.TavsnIdentifiers.GetMacSN();      // "TQ11..."
//   Tavsn.IdentifierResult source;
//   string machineId = Tavsn.TavsnIdentifiers.GetPCSN(out source);
//
// The 32-bit tavsn.dll exports its stdcall functions under decorated names
// (_GetMacSN@8), the 64-bit one under plain names (GetMacSN). The bitness of
// the running process picks the set, so an AnyCPU host calls whichever
// tavsn.dll matches the process it was started in. Both DLLs are named
// tavsn.dll: an AnyCPU host keeps them in separate folders, x86\ and x64\
// beside the program (as the NuGet package puts them for .NET Framework),
// and the first call loads the one of the process from there.
//
// Like the exports, these methods must not be called from several threads at
// once. A missing DLL or export still surfaces as DllNotFoundException or
// EntryPointNotFoundException, a DLL of the other architecture as
// BadImageFormatException.

using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;

namespace Tavsn
{
    /// <summary>Results of GetMacSN, GetPCSN, GetPCSNEx and their aliases
    /// (TAVSN_* in tavsn.h).</summary>
    public enum IdentifierResult
    {
        /// <summary>GetMacSN: the 32 characters were written.</summary>
        MacSnWritten = 32,
        /// <summary>GetPCSN(Ex): MAC read from a physical adapter's driver.</summary>
        MacFromAdapter = 0,
        /// <summary>GetPCSN(Ex): MAC from the IP Helper adapter list.</summary>
        MacFromIpHelper = 1,
        /// <summary>GetPCSN(Ex): MAC from a sequential UUID's node.</summary>
        MacFromUuid = 2,
        /// <summary>No MAC address from any source; buffer untouched.</summary>
        NoMac = -1,
        /// <summary>Buffer null or size 0; buffer untouched.</summary>
        InvalidParameter = -2,
        /// <summary>Size below 32, negative sizes included; untouched.</summary>
        BufferTooSmall = -3,
    }

    /// <summary>Results of tav_get_pc_id (TAVSN_PC_ID_* in tavsn.h).</summary>
    public enum PcIdResult
    {
        /// <summary>31 hex digits and a zero byte were written.</summary>
        Written = 32,
        /// <summary>len below 32, or data null; data untouched.</summary>
        BadBuffer = -1,
        /// <summary>No memory for the probes; data untouched.</summary>
        NoMemory = -2,
    }

    /// <summary>An export of tavsn.dll answered with a failure, or with a
    /// result it never gives on success.</summary>
    public class TavsnException : Exception
    {
        /// <summary>The export's name without decoration, e.g. "GetPCSN".</summary>
        public string Function { get; private set; }

        /// <summary>The result as the export returned it.</summary>
        public int Code { get; private set; }

        /// <summary>The result as an IdentifierResult, or as a PcIdResult for
        /// tav_get_pc_id.</summary>
        public Enum Result { get; private set; }

        internal TavsnException(string function, IdentifierResult result)
            : base(MessageFor(function, (int)result, result < 0 ? Meaning(result) : NotAFailure))
        {
            Function = function;
            Code = (int)result;
            Result = result;
        }

        internal TavsnException(string function, PcIdResult result)
            : base(MessageFor(function, (int)result, result < 0 ? Meaning(result) : NotAFailure))
        {
            Function = function;
            Code = (int)result;
            Result = result;
        }

        /// <summary>What a result of the identifier exports means.</summary>
        public static string Meaning(IdentifierResult result)
        {
            switch (result)
            {
                case IdentifierResult.MacSnWritten: return "the 32 characters were written";
                case IdentifierResult.MacFromAdapter: return "MAC read from a physical adapter's driver";
                case IdentifierResult.MacFromIpHelper: return "MAC from the IP Helper adapter list";
                case IdentifierResult.MacFromUuid: return "MAC from a sequential UUID's node";
                case IdentifierResult.NoMac: return "no MAC address from any source";
                case IdentifierResult.InvalidParameter: return "buffer null or size 0";
                case IdentifierResult.BufferTooSmall: return "size below 32, negative sizes included";
                default: return "not a result tavsn.dll gives";
            }
        }

        /// <summary>What a result of tav_get_pc_id means.</summary>
        public static string Meaning(PcIdResult result)
        {
            switch (result)
            {
                case PcIdResult.Written: return "31 hex digits and a zero byte were written";
                case PcIdResult.BadBuffer: return "len below 32, or data null";
                case PcIdResult.NoMemory: return "no memory for the probes";
                default: return "not a result tavsn.dll gives";
            }
        }

        // A success code of another export, say 0 from GetMacSN, must not
        // read as that export's success.
        const string NotAFailure = "not a result this export gives";

        static string MessageFor(string function, int code, string meaning)
        {
            return function + " returned " + code + ": " + meaning;
        }
    }

    /// <summary>Exports of the 32-bit tavsn.dll.</summary>
    internal static class NativeX86
    {
        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "_GetMacSN@8", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        internal static extern int GetMacSN([Out] byte[] buffer, int size);

        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "_GetPCSN@8", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        internal static extern int GetPCSN([Out] byte[] buffer, int size);

        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "_GetPCSNEx@8", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        internal static extern int GetPCSNEx([Out] byte[] buffer, int size);

        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "tav_get_pc_id_ex", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tav_get_pc_id_ex([Out] byte[] buffer, int size);

        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "tav_get_pc_id_info", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tav_get_pc_id_info([Out] byte[] buffer, int size);

        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "tav_get_pc_id", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tav_get_pc_id([Out] byte[] data, uint len);
    }

    /// <summary>Exports of the 64-bit tavsn.dll. x64 has one calling
    /// convention; each function keeps the one it has in tavsn.h all the
    /// same, so that the two classes differ only in the names.</summary>
    internal static class NativeX64
    {
        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "GetMacSN", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        internal static extern int GetMacSN([Out] byte[] buffer, int size);

        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "GetPCSN", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        internal static extern int GetPCSN([Out] byte[] buffer, int size);

        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "GetPCSNEx", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
        internal static extern int GetPCSNEx([Out] byte[] buffer, int size);

        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "tav_get_pc_id_ex", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tav_get_pc_id_ex([Out] byte[] buffer, int size);

        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "tav_get_pc_id_info", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tav_get_pc_id_info([Out] byte[] buffer, int size);

        [DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory)]
        [DllImport("tavsn.dll", EntryPoint = "tav_get_pc_id", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tav_get_pc_id([Out] byte[] data, uint len);
    }

    internal static class Kernel32
    {
        [DefaultDllImportSearchPaths(DllImportSearchPath.System32)]
        [DllImport("kernel32.dll", EntryPoint = "LoadLibraryW", CharSet = CharSet.Unicode, ExactSpelling = true)]
        internal static extern IntPtr LoadLibraryW(string path);
    }

    /// <summary>The identifiers of this machine as strings.</summary>
    public static class TavsnIdentifiers
    {
        /// <summary>Characters of a TQ11 or TQ12 identifier.</summary>
        public const int IdentifierLength = 32;

        /// <summary>Hex digits of the tav_get_pc_id fingerprint.</summary>
        public const int PcIdLength = 31;

        // The runtime binds an extern method on its first call, so the other
        // class's names are never looked up in a DLL that lacks them.
        static readonly bool Is64BitProcess = IntPtr.Size == 8;

        // The DLL is loaded by its full path before the first call, never
        // found by a search that could reach the working folder or PATH:
        // x86\tavsn.dll or x64\tavsn.dll beside the program when there is
        // one, else tavsn.dll beside the program. The runtime's "tavsn.dll"
        // is then that module. Elsewhere (.NET (Core) with
        // runtimes\win-*\native, Mono) the declarations look only in the
        // assembly's own folder, after the runtime's own native paths.
        static TavsnIdentifiers()
        {
            if (Environment.OSVersion.Platform != PlatformID.Win32NT)
                return;
            string folder = AppDomain.CurrentDomain.BaseDirectory;
            string[] candidates = {
                Path.Combine(Path.Combine(folder, Is64BitProcess ? "x64" : "x86"), "tavsn.dll"),
                Path.Combine(folder, "tavsn.dll"),
            };
            foreach (string dll in candidates)
            {
                if (File.Exists(dll))
                {
                    Kernel32.LoadLibraryW(Path.GetFullPath(dll));
                    return;
                }
            }
        }

        /// <summary>The MAC identifier: "TQ11" and 28 hex digits.</summary>
        public static string GetMacSN()
        {
            byte[] buffer = new byte[IdentifierLength];
            int code = Is64BitProcess ? NativeX64.GetMacSN(buffer, buffer.Length)
                                      : NativeX86.GetMacSN(buffer, buffer.Length);
            if (code != (int)IdentifierResult.MacSnWritten)
                throw new TavsnException("GetMacSN", (IdentifierResult)code);
            return Encoding.ASCII.GetString(buffer, 0, IdentifierLength);
        }

        /// <summary>The machine identifier: "TQ12", the first MAC, the
        /// processor and the firmware's serial number or UUID.</summary>
        public static string GetPCSN()
        {
            IdentifierResult macSource;
            return GetPCSN(out macSource);
        }

        /// <summary>As GetPCSN(); macSource tells where the MAC came from.</summary>
        public static string GetPCSN(out IdentifierResult macSource)
        {
            return MachineIdentifier("GetPCSN", (b, n) => NativeX64.GetPCSN(b, n),
                                     (b, n) => NativeX86.GetPCSN(b, n), out macSource);
        }

        /// <summary>As GetPCSN, with a record checksum in place of the
        /// firmware fields.</summary>
        public static string GetPCSNEx()
        {
            IdentifierResult macSource;
            return GetPCSNEx(out macSource);
        }

        /// <summary>As GetPCSNEx(); macSource tells where the MAC came from.</summary>
        public static string GetPCSNEx(out IdentifierResult macSource)
        {
            return MachineIdentifier("GetPCSNEx", (b, n) => NativeX64.GetPCSNEx(b, n),
                                     (b, n) => NativeX86.GetPCSNEx(b, n), out macSource);
        }

        /// <summary>GetPCSN through its cdecl alias tav_get_pc_id_ex.</summary>
        public static string GetPcIdEx()
        {
            IdentifierResult macSource;
            return GetPcIdEx(out macSource);
        }

        /// <summary>As GetPcIdEx(); macSource tells where the MAC came from.</summary>
        public static string GetPcIdEx(out IdentifierResult macSource)
        {
            return MachineIdentifier("tav_get_pc_id_ex", (b, n) => NativeX64.tav_get_pc_id_ex(b, n),
                                     (b, n) => NativeX86.tav_get_pc_id_ex(b, n), out macSource);
        }

        /// <summary>GetPCSNEx through its cdecl alias tav_get_pc_id_info.</summary>
        public static string GetPcIdInfo()
        {
            IdentifierResult macSource;
            return GetPcIdInfo(out macSource);
        }

        /// <summary>As GetPcIdInfo(); macSource tells where the MAC came from.</summary>
        public static string GetPcIdInfo(out IdentifierResult macSource)
        {
            return MachineIdentifier("tav_get_pc_id_info", (b, n) => NativeX64.tav_get_pc_id_info(b, n),
                                     (b, n) => NativeX86.tav_get_pc_id_info(b, n), out macSource);
        }

        /// <summary>The fingerprint: 31 uppercase hex digits of an MD5 over
        /// processor, disk and adapter facts.</summary>
        public static string GetPcId()
        {
            // 31 digits and the zero byte after them.
            byte[] data = new byte[PcIdLength + 1];
            int code = Is64BitProcess ? NativeX64.tav_get_pc_id(data, (uint)data.Length)
                                      : NativeX86.tav_get_pc_id(data, (uint)data.Length);
            if (code != (int)PcIdResult.Written)
                throw new TavsnException("tav_get_pc_id", (PcIdResult)code);
            return Encoding.ASCII.GetString(data, 0, PcIdLength);
        }

        // The lambdas name the externs only in their bodies, so the other
        // bitness's entry points are never bound.
        static string MachineIdentifier(string function, Func<byte[], int, int> x64, Func<byte[], int, int> x86,
                                        out IdentifierResult macSource)
        {
            byte[] buffer = new byte[IdentifierLength];
            int code = Is64BitProcess ? x64(buffer, buffer.Length) : x86(buffer, buffer.Length);
            if (code != (int)IdentifierResult.MacFromAdapter && code != (int)IdentifierResult.MacFromIpHelper &&
                code != (int)IdentifierResult.MacFromUuid)
                throw new TavsnException(function, (IdentifierResult)code);
            macSource = (IdentifierResult)code;
            return Encoding.ASCII.GetString(buffer, 0, IdentifierLength);
        }
    }
}
